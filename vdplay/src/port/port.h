// One decoder port: wires the stages of its stream (source buffer, decoder,
// playback clock, window and callback outputs) and owns the one thread that
// moves frames through them. The stages do the work; the port keeps the
// settings, the counters and who may do what when.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "VdPlay.h"
#include "decode/picture_decoder.h"
#include "frame.h"
#include "playback/playback_clock.h"
#include "port/port_thread.h"
#include "render/callback_output.h"
#include "render/painter.h"
#include "render/window_output.h"
#include "source/source_buffer.h"
#include "source/stream_header.h"

namespace vdplay {

// What VdPlay_OpenStream sets up; freed when the last user lets go (the
// port's thread may still be inside a callback when the stream is closed
// from that callback).
struct Stream {
  explicit Stream(const StreamFormat& f)
      : format(f), source(f), width(static_cast<int>(f.width)), height(static_cast<int>(f.height)) {}
  StreamFormat format;
  SourceBuffer source;
  std::unique_ptr<PictureDecoder> decoder;  // none until a program or transport stream names its codec
  vdstream::Codec decoderCodec = vdstream::Codec::None;
  vdstream::Codec refusedCodec = vdstream::Codec::None;  // no decoder could be made for it

  // Guarded by the port lock.
  int width;   // size of the pictures decoded lately; the header's until the first
  int height;

  // The port thread's own.
  std::uint64_t clearsApplied = 0;  // the source's clears the decoder was flushed for
  Frame pending;  // decoded, to be shown now (or kept through a stop)
  PlaybackClock::Action turn = PlaybackClock::Action::Show;  // the clock's word when decoding began
  DecodeOptions appliedOptions;
};

// Every operation returns 0 or a VDPLAY_ERR_* code.
//
// Locking: m_ guards the port's state; the thread holds it only for
// bookkeeping and decodes, paints, sleeps and calls the callback without it.
// The stages guard themselves; m_ may be held while calling into them, never
// the other way round.
class Port {
 public:
  explicit Port(int index) : index_(index), thread_(m_, wake_), callbacks_(index) {}
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  std::uint32_t setStreamOpenMode(std::uint32_t mode);
  std::uint32_t openStream(const std::uint8_t* header, std::size_t length, std::uint32_t poolBytes);
  std::uint32_t closeStream();
  std::uint32_t inputData(const std::uint8_t* data, std::size_t length);
  std::uint32_t resetSourceBuffer();
  std::uint32_t bytesWaiting();

  std::uint32_t play(void* wnd);
  std::uint32_t stop();
  std::uint32_t pause(std::uint32_t pause);
  std::uint32_t fast() { return changeSpeed(+1); }
  std::uint32_t slow() { return changeSpeed(-1); }
  std::uint32_t oneByOne();
  std::uint32_t refresh();

  std::uint32_t setDisplayCallback(VdDisplayCallback callback);
  std::uint32_t pictureSize(VdLong* width, VdLong* height);
  std::uint32_t setColor(std::uint32_t region, int brightness, int contrast, int saturation,
                         int hue);
  std::uint32_t setDisplayRegion(std::uint32_t region, const VdRect* rect, void* wnd, bool enable);
  std::uint32_t setVolume(std::uint32_t volume);
  std::uint32_t setPicQuality(bool high);
  std::uint32_t throwBFrames(std::uint32_t count);
  std::uint32_t setOverlayMode(bool overlay, std::uint32_t colorKey);
  void stats(VdPlayStats& out);

  // The sound stage's view of the port (sound_loop.cpp): the open stream,
  // whether its sound is heard now (playing at normal speed, neither paused
  // nor stepping) and the volume.
  struct SoundTap {
    std::shared_ptr<Stream> stream;
    bool audible = false;
    bool paused = false;
    std::uint32_t volume = 0;
    bool pictureStamped = false;      // a stamped picture was shown
    std::uint32_t pictureStampMs = 0; // its stamp
  };
  SoundTap soundTap();
  // Audio units the sound stage played, found damaged; whether it is heard.
  void noteSound(std::uint32_t played, std::uint32_t damaged, bool heard);
  // The sample stamped stampMs is heard at heardAt: the pictures follow.
  void followAudio(std::chrono::steady_clock::time_point heardAt, std::uint32_t stampMs);

  // Process exit: stops the thread, waiting for it at most until deadline.
  void stopForExit(std::chrono::steady_clock::time_point deadline) {
    thread_.stopForExit(deadline);
  }

 private:
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<std::mutex>;

  // The port's thread (display_loop.cpp).
  void threadMain();
  void step(Lock& lk, Stream& s);
  bool waitForTurn(Lock& lk, const Stream& s, PlaybackClock::Action& action);
  void decodeNext(Lock& lk, Stream& s);
  void waitForData(Lock& lk, Stream& s, std::uint64_t writesSeen);
  void applyReset(Lock& lk, Stream& s);
  void applyOptions(Lock& lk, Stream& s);
  void show(Lock& lk, Stream& s);
  void handOverKeptFrame(Lock& lk);
  bool interrupted(const Stream& s) const;
  bool resetPending(const Stream& s) const { return s.source.clears() != s.clearsApplied; }
  void noteDamaged(std::uint32_t count);
  bool decoderFor(Stream& s, vdstream::Codec codec);

  std::uint32_t changeSpeed(int delta);
  std::uint32_t startThread();

  const int index_;
  std::mutex m_;
  std::condition_variable wake_;  // for the thread: data, control changes, stop
  PortThread thread_;

  std::shared_ptr<Stream> stream_;
  std::uint32_t openMode_ = 0;
  bool waitingForData_ = false;

  PlaybackClock clock_;
  WindowOutput window_;
  CallbackOutput callbacks_;

  // Counters of the open stream.
  std::uint32_t decoded_ = 0;
  std::uint32_t displayed_ = 0;
  std::uint32_t damaged_ = 0;
  std::uint32_t audioPlayed_ = 0;
  std::uint32_t audioDamaged_ = 0;
  bool soundHeard_ = false;

  // Settings.
  DisplaySettings display_;
  std::uint32_t volume_ = 0xFFFF;
  DecodeOptions decodeOptions_;
  bool overlay_ = false;
  std::uint32_t colorKey_ = 0;
};

}  // namespace vdplay
