// The display thread of a port: takes units from the source buffer, has the
// decoder turn them into pictures, waits until each is due and shows it
// (painter, display callback, kept copy).
#include "port.h"

#include "errors.h"

namespace vdplay {
namespace {

// A decoder that holds pictures back for reordering gives them out when no
// data has come for this long: the stream has probably ended.
constexpr std::chrono::milliseconds kDrainAfter{1000};

}  // namespace

void Port::threadMain() {
  std::unique_lock<std::mutex> lk(m_);
  while (!stopRequested_) {
    const std::shared_ptr<Stream> s = stream_;
    if (unitHeld_ && leasedStream_ != s.get()) {  // closed (and perhaps reopened) meanwhile
      unitHeld_ = false;
      releaseLease(leasedStream_, 0);
    }
    if (!s) break;
    if (s->resetsApplied != s->resets) {
      applyReset(lk, *s);
      continue;
    }
    if (!s->hasPending) {
      if (!takePicture(lk, *s)) feedInput(lk, s);
      continue;
    }
    switch (waitToShow(lk, s.get())) {
      case ShowDecision::Show:
        show(lk, s, s->pending);
        s->hasPending = false;
        break;
      case ShowDecision::Drop:  // too late at a fast speed: on to the next one
        s->hasPending = false;
        pacer_.shown(Clock::now());
        break;
      case ShowDecision::Abort:
        if (stream_ != s || stopRequested_) abandonPending(*s);
        break;  // a reset is applied at the top of the loop
    }
  }
  // Let go of a unit read in place, so that a reset while stopped need not
  // wait: consumed if its picture was shown, else it stays for the next Play.
  if (unitHeld_) {
    if (stream_ && stream_.get() == leasedStream_ && stream_->hasPending) {
      abandonPending(*stream_);
    } else {
      unitHeld_ = false;
      releaseLease(leasedStream_, heldBytes_);
    }
  }
  threadActive_ = false;
  idle_.notify_all();
}

bool Port::takePicture(std::unique_lock<std::mutex>& lk, Stream& s) {
  applyOptions(lk, s);
  std::uint32_t damaged = 0;
  Picture picture;
  lk.unlock();
  const bool got = s.decoder->receive(picture, damaged);
  lk.lock();
  if (damaged) noteDamaged(damaged);
  if (got) {
    s.pending = picture;
    s.hasPending = true;
    s.width = picture.width;
    s.height = picture.height;
    ++decoded_;
    return true;
  }
  if (unitHeld_) {  // every picture of the unit has been shown
    unitHeld_ = false;
    releaseLease(&s, heldBytes_);
  }
  return false;
}

void Port::feedInput(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s) {
  InputUnit unit;
  const InputReader::Result found = s->reader.next(s->ring, unit);
  if (found.damaged) noteDamaged(found.damaged);
  if (!found.found) {
    waitForData(lk, s);
    return;
  }
  leased_ = true;
  leasedStream_ = s.get();
  const ByteRing::View input = s->ring.view(unit.offset, unit.size);
  lk.unlock();
  const bool taken = s->decoder->send(input, unit.type, unit.stampMs);
  lk.lock();
  if (!taken) {
    noteDamaged(1);
    releaseLease(s.get(), unit.totalSize);
  } else if (s->decoder->readsInPlace() && !dropRequested_ && stream_ == s) {
    unitHeld_ = true;  // its picture is read from the buffer when shown
    heldBytes_ = unit.totalSize;
  } else {
    releaseLease(s.get(), unit.totalSize);
  }
}

void Port::waitForData(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s) {
  starved_ = true;
  waitingForData_ = true;
  dataArrived_ = false;
  const auto woken = [&] {
    return stopRequested_ || dataArrived_ || stream_ != s || keptPictureDue() ||
           s->resets != s->resetsApplied;
  };
  if (s->decoder->holdsPictures()) {
    if (!wake_.wait_for(lk, kDrainAfter, woken)) {
      lk.unlock();
      s->decoder->drain();
      lk.lock();
    }
  } else {
    wake_.wait(lk, woken);
  }
  waitingForData_ = false;
  if (keptPictureDue()) handOverKeptPicture(lk);
}

void Port::applyReset(std::unique_lock<std::mutex>& lk, Stream& s) {
  s.resetsApplied = s.resets;
  s.hasPending = false;
  if (unitHeld_) {
    unitHeld_ = false;
    releaseLease(&s, 0);  // drops what ResetSourceBuffer asked for
  }
  lk.unlock();
  s.decoder->flush();
  lk.lock();
}

void Port::abandonPending(Stream& s) {
  // Stopped or closed before its time. A picture read in place goes back
  // into the buffer (its unit stays there and is decoded again by the next
  // Play); a decoded one stays pending in the stream.
  if (!unitHeld_) return;
  unitHeld_ = false;
  s.hasPending = false;
  releaseLease(&s, 0);
  s.decoder->flush();
}

void Port::applyOptions(std::unique_lock<std::mutex>& lk, Stream& s) {
  if (!(decodeOptions_ != s.appliedOptions)) return;
  s.appliedOptions = decodeOptions_;
  const DecodeOptions options = decodeOptions_;
  lk.unlock();
  s.decoder->setOptions(options);
  lk.lock();
}

Port::ShowDecision Port::waitToShow(std::unique_lock<std::mutex>& lk, const Stream* s) {
  for (;;) {
    if (stopRequested_ || stream_.get() != s || dropRequested_ || s->resets != s->resetsApplied)
      return ShowDecision::Abort;
    if (keptPictureDue()) {
      handOverKeptPicture(lk);
      continue;
    }
    if (paused_) {
      wake_.wait(lk);
      continue;
    }
    if (stepping_) {
      if (stepCredits_ > 0) {
        --stepCredits_;
        return ShowDecision::Show;
      }
      wake_.wait(lk);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (restartPacing_) {
      pacer_.restart(now);
      restartPacing_ = false;
    } else if (starved_ && now > pacer_.due()) {
      // The buffer ran dry: the schedule starts again from when data came.
      pacer_.restart(now);
    }
    starved_ = false;
    if (now >= pacer_.due()) {
      // Faster than normal, a picture more than an interval late is dropped
      // so that decoding catches up instead of falling behind.
      const bool late = now - pacer_.due() > std::chrono::duration<double>(pacer_.intervalSeconds());
      return pacer_.speed() > 0 && late ? ShowDecision::Drop : ShowDecision::Show;
    }
    wake_.wait_until(lk, pacer_.due());
  }
}

void Port::show(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s,
                Picture& picture) {
  const VdDisplayCallback cb = exiting() ? nullptr : callback_;
  callbackRunning_ = cb != nullptr;
  if (cb) ++callbackCalls_;
  keptWanted_ = false;  // the new callback gets this picture instead
  kept_.valid = false;  // being replaced
  const std::uint64_t drops = keptDrops_;
  const DisplaySettings settings = display_;
  const bool stepped = stepping_;
  lk.unlock();
  {
    // Pixels are made only for a window or a callback.
    std::lock_guard<std::mutex> paint(paintMutex_);
    if (painter_ && s->decoder->pixels(picture))
      painter_->present(picture.data, picture.width, picture.height, settings);
  }
  keep(s, picture);
  if (cb && s->decoder->pixels(picture)) {
    cb(index_, reinterpret_cast<char*>(const_cast<std::uint8_t*>(picture.data)),
       static_cast<VdLong>(picture.bytes), picture.width, picture.height,
       static_cast<VdLong>(picture.stampMs), VDPLAY_FRAME_I420, 0);
  }
  lk.lock();
  // Unless a reset or close came meanwhile, it is the picture on display.
  kept_.valid = keptDrops_ == drops;
  kept_.stream = kept_.valid ? s : nullptr;
  callbackRunning_ = false;
  ++displayed_;
  if (!stepped) pacer_.shown(Clock::now());
  idle_.notify_all();
}

void Port::keep(const std::shared_ptr<Stream>& s, Picture& picture) {
  kept_.byDecoder = s->decoder->keepsShownPicture();
  if (kept_.byDecoder) {
    s->decoder->markShown(picture);
    kept_.picture = picture;
    return;
  }
  // assign() reuses the buffer: no allocation while the picture size stays.
  if (!s->decoder->pixels(picture)) return;
  kept_.copy.assign(picture.data, picture.data + picture.bytes);
  kept_.picture = picture;
  kept_.picture.data = kept_.copy.data();
}

bool Port::keptPictureDue() const {
  return keptWanted_ && kept_.valid && callback_ && !exiting();
}

void Port::handOverKeptPicture(std::unique_lock<std::mutex>& lk) {
  const VdDisplayCallback cb = callback_;
  const std::shared_ptr<Stream> s = kept_.stream;
  Picture picture = kept_.picture;
  keptWanted_ = false;
  callbackRunning_ = true;
  ++callbackCalls_;
  lk.unlock();
  // Only this thread changes kept_.picture and the decoder, so neither needs
  // the lock while in use; s keeps the decoder alive through a close.
  const std::uint8_t* pixels = kept_.byDecoder ? s->decoder->pixels(picture) : picture.data;
  if (pixels) {
    cb(index_, reinterpret_cast<char*>(const_cast<std::uint8_t*>(pixels)),
       static_cast<VdLong>(picture.bytes), picture.width, picture.height,
       static_cast<VdLong>(picture.stampMs), VDPLAY_FRAME_I420, 0);
  }
  lk.lock();
  callbackRunning_ = false;
  idle_.notify_all();
}

void Port::dropKeptPictureLocked() {
  ++keptDrops_;
  kept_.valid = false;
  kept_.stream.reset();
  keptWanted_ = false;
}

void Port::releaseLease(const Stream* s, std::size_t consumed) {
  if (stream_.get() == s) {
    Stream* open = stream_.get();
    if (dropRequested_) {
      open->ring.consume(dropBytes_);
      open->reader.reset();
    } else if (consumed) {
      open->ring.consume(consumed);
    }
  }
  dropRequested_ = false;
  leased_ = false;
  leasedStream_ = nullptr;
  idle_.notify_all();
}

void Port::noteDamaged(std::uint32_t count) {
  damaged_ += count;
  recordPortError(index_, VDPLAY_ERR_DECODE);
}


}  // namespace vdplay
