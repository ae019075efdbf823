// The port's thread: moves the stream through its stages. It has the
// decoder take units from the source, asks the playback clock when each
// frame is due and hands it to the window and the callback.
#include <new>

#include "errors.h"
#include "port/port.h"

namespace vdplay {
namespace {

// A decoder that holds pictures back for reordering gives them out when no
// data has come for this long: the stream has probably ended.
constexpr std::chrono::milliseconds kDrainAfter{1000};
// After running out of memory, the thread tries again this much later.
constexpr std::chrono::milliseconds kRetryAfterNoMemory{20};

}  // namespace

void Port::threadMain() {
  Lock lk(m_);
  while (!thread_.stopRequested()) {
    const std::shared_ptr<Stream> s = stream_;
    if (!s) break;
    try {
      step(lk, *s);
    } catch (const std::bad_alloc&) {
      if (!lk.owns_lock()) lk.lock();
      recordPortError(index_, VDPLAY_ERR_ALLOC);
      wake_.wait_for(lk, kRetryAfterNoMemory);
    }
  }
}

// One step of the loop. A picture is decoded only once the clock says the
// next one is due, and shown at once: a decoded picture never waits in
// memory for its time.
void Port::step(Lock& lk, Stream& s) {
  if (resetPending(s)) {
    applyReset(lk, s);
    return;
  }
  if (callbacks_.handOverDue()) {
    handOverKeptFrame(lk);
    return;
  }
  PlaybackClock::Action action;
  if (!waitForTurn(lk, s, action)) return;
  if (!s.pending) {
    s.turn = action;
    decodeNext(lk, s);
    return;
  }
  // Judged when its turn came, before decoding: the time the decoding took
  // does not make a picture late.
  if (s.turn == PlaybackClock::Action::Show) action = PlaybackClock::Action::Show;
  if (action == PlaybackClock::Action::Drop) {
    clock_.shown(Clock::now(), s.pending.stampMs);
    s.pending = Frame();  // too late at a fast speed: on to the next one
  } else {
    show(lk, s);
  }
}

void Port::decodeNext(Lock& lk, Stream& s) {
  applyOptions(lk, s);
  Frame frame;
  std::uint32_t damaged = 0;
  lk.unlock();
  const bool got = s.decoder && s.decoder->receive(frame, damaged);
  lk.lock();
  if (damaged) noteDamaged(damaged);
  if (got) {
    s.pending = std::move(frame);
    s.width = s.pending.width;
    s.height = s.pending.height;
    ++decoded_;
    return;
  }
  if (resetPending(s)) return;
  // Counted before looking, so that data arriving after the look wakes the wait.
  const std::uint64_t writesSeen = s.source.writes();
  const std::uint64_t clearsSeen = s.clearsApplied;
  std::uint32_t stampMs = 0;
  lk.unlock();
  const SourceBuffer::Taken taken =
      s.source.takeUnit(clearsSeen, [&](const SourceUnit& unit) {
        stampMs = unit.stampMs;
        if (!decoderFor(s, unit.codec)) return false;
        if (unit.afterLoss) s.decoder->skipToKeyPicture();
        return unit.whole ? s.decoder->sendStored(unit.whole, unit.bytes, unit.type, unit.stampMs)
                          : s.decoder->send(unit.bytes, unit.type, unit.stampMs);
      });
  lk.lock();
  if (taken.damaged) noteDamaged(taken.damaged);
  if (taken.found && !taken.accepted) noteDamaged(1);
  if (taken.accepted)
    clock_.unitTaken(taken.cameAt, stampMs, !taken.poolWasFull && !s.decoder->holdsPictures());
  if (!taken.found) waitForData(lk, s, writesSeen);
}

void Port::waitForData(Lock& lk, Stream& s, std::uint64_t writesSeen) {
  clock_.dataRanOut();
  waitingForData_ = true;
  const auto woken = [&] {
    return thread_.stopRequested() || s.source.writes() != writesSeen || stream_.get() != &s ||
           callbacks_.handOverDue() || resetPending(s);
  };
  Clock::time_point closeAt{};
  std::uint32_t openStamp = 0;
  if (s.source.holdsOpenUnit(closeAt, openStamp)) {
    // A program or transport stream's video unit whose end no mark has shown
    // is taken as complete when no bytes have come for a while (a live source
    // pushes a picture's bytes together, the next picture may be a frame
    // away), and not earlier than a frame before the picture is due: a host
    // that feeds a file ahead of time has the rest of it on the way.
    const Clock::time_point until =
        std::max(closeAt, clock_.dueTime(Clock::now(), openStamp) - clock_.interval());
    if (!wake_.wait_until(lk, until, woken)) {
      lk.unlock();
      s.source.closeOpenUnit(s.clearsApplied);
      lk.lock();
    }
  } else if (s.decoder && s.decoder->holdsPictures()) {
    if (!wake_.wait_for(lk, kDrainAfter, woken)) {
      lk.unlock();
      s.decoder->drain();
      lk.lock();
    }
  } else {
    wake_.wait(lk, woken);
  }
  waitingForData_ = false;
}

void Port::applyReset(Lock& lk, Stream& s) {
  s.clearsApplied = s.source.clears();
  s.pending = Frame();
  if (!s.decoder) return;
  lk.unlock();
  s.decoder->flush();
  lk.lock();
}

void Port::applyOptions(Lock& lk, Stream& s) {
  if (!s.decoder || !(decodeOptions_ != s.appliedOptions)) return;
  s.appliedOptions = decodeOptions_;
  const DecodeOptions options = decodeOptions_;
  lk.unlock();
  s.decoder->setOptions(options);
  lk.lock();
}

bool Port::interrupted(const Stream& s) const {
  return thread_.stopRequested() || stream_.get() != &s || resetPending(s);
}

bool Port::waitForTurn(Lock& lk, const Stream& s, PlaybackClock::Action& action) {
  for (;;) {
    if (interrupted(s)) return false;  // the loop applies a reset; a stop keeps the frame
    if (callbacks_.handOverDue()) return false;
    const PlaybackClock::Decision decision =
        s.pending ? clock_.next(Clock::now(), s.pending.stampMs) : clock_.next(Clock::now());
    switch (decision.action) {
      case PlaybackClock::Action::Show:
      case PlaybackClock::Action::Drop:
        action = decision.action;
        return true;
      case PlaybackClock::Action::Wait:
        wake_.wait_until(lk, decision.until);
        break;
      case PlaybackClock::Action::Hold:
        wake_.wait(lk);
        break;
    }
  }
}

void Port::show(Lock& lk, Stream& s) {
  const Frame frame = std::move(s.pending);
  s.pending = Frame();
  const DisplaySettings settings = display_;
  const std::uint64_t generation = callbacks_.generation();
  lk.unlock();
  window_.present(frame, settings);
  callbacks_.show(frame, generation);
  lk.lock();
  ++displayed_;
  clock_.shown(Clock::now(), frame.stampMs);
}

void Port::handOverKeptFrame(Lock& lk) {
  lk.unlock();
  callbacks_.handOver();
  lk.lock();
}

// The decoder for a unit's codec: made when a program or transport stream
// names its codec, made anew when the stream map changes it. Runs on the
// port's thread without the port lock.
bool Port::decoderFor(Stream& s, vdstream::Codec codec) {
  if (s.decoder && s.decoderCodec == codec) return true;
  if (codec == vdstream::Codec::None || codec == s.refusedCodec) return false;
  StreamFormat format = s.format;
  format.codec = codec;
  std::unique_ptr<PictureDecoder> decoder;
  if (const std::uint32_t failed = createPictureDecoder(format, decoder)) {
    s.refusedCodec = codec;
    recordPortError(index_, failed);
    return false;
  }
  s.decoder = std::move(decoder);
  s.decoderCodec = codec;
  s.appliedOptions = DecodeOptions();  // a new decoder starts with the defaults
  return true;
}

void Port::noteDamaged(std::uint32_t count) {
  damaged_ += count;
  recordPortError(index_, VDPLAY_ERR_DECODE);
}

}  // namespace vdplay
