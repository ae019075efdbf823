// One decoder port: its stream, source buffer, display thread and settings.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VdPlay.h"
#include "byte_ring.h"
#include "input_reader.h"
#include "pacer.h"
#include "painter.h"
#include "picture.h"
#include "picture_decoder.h"
#include "stream_header.h"

namespace vdplay {

// What VdPlay_OpenStream sets up; freed when the last user lets go (the
// display thread may still be inside a callback when the stream is closed
// from that callback).
struct Stream {
  explicit Stream(const StreamFormat& f)
      : format(f), reader(f), width(static_cast<int>(f.width)), height(static_cast<int>(f.height)) {}
  StreamFormat format;
  ByteRing ring;
  InputReader reader;
  std::unique_ptr<PictureDecoder> decoder;

  // Guarded by the port lock.
  int width;   // size of the pictures decoded lately; the header's until the first
  int height;
  std::uint64_t resets = 0;  // ResetSourceBuffer calls; the display thread then flushes the decoder

  // The display thread's own.
  std::uint64_t resetsApplied = 0;
  Picture pending;  // decoded, waiting for its time
  bool hasPending = false;
  DecodeOptions appliedOptions;
};

// The picture on display, so that a display callback installed later (a
// snapshot while paused) can be handed it: held by the decoder when it keeps
// its shown picture, else copied when shown. Only the display thread touches
// it, except `valid` and `stream`, which the port lock guards.
struct KeptPicture {
  Picture picture;
  std::shared_ptr<Stream> stream;  // whose decoder holds it
  bool byDecoder = false;
  std::vector<std::uint8_t> copy;  // when the decoder does not keep it
  bool valid = false;
};

// Every operation returns 0 or a VDPLAY_ERR_* code.
//
// Locking: m_ guards all state. The display thread holds it only for
// bookkeeping; it decodes, paints, sleeps and calls the callback without it.
// control_ serialises starting and joining the display thread; the thread
// itself never takes it, so calls made from inside a display callback skip
// it (they cannot join their own thread and instead ask it to stop).
// paintMutex_ guards the painter. No code holds two of these at once except
// control_ followed by one of the others.
class Port {
 public:
  explicit Port(int index) : index_(index) {}
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

  // Process exit: stop the display thread, waiting for it at most until
  // deadline, and join it if it has ended by then.
  void stopForExit(std::chrono::steady_clock::time_point deadline);

 private:
  using Clock = std::chrono::steady_clock;

  enum class ShowDecision { Show, Drop, Abort };

  void threadMain();
  bool takePicture(std::unique_lock<std::mutex>& lk, Stream& s);
  void feedInput(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s);
  void waitForData(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s);
  void applyReset(std::unique_lock<std::mutex>& lk, Stream& s);
  void abandonPending(Stream& s);
  void applyOptions(std::unique_lock<std::mutex>& lk, Stream& s);
  ShowDecision waitToShow(std::unique_lock<std::mutex>& lk, const Stream* s);
  void show(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Stream>& s, Picture& picture);
  void keep(const std::shared_ptr<Stream>& s, Picture& picture);
  bool keptPictureDue() const;
  void handOverKeptPicture(std::unique_lock<std::mutex>& lk);
  void dropKeptPictureLocked();
  void releaseLease(const Stream* s, std::size_t consumed);
  void noteDamaged(std::uint32_t count);

  bool onDisplayThread();
  bool runningLocked() const { return threadActive_ && !stopRequested_; }
  void requestStopLocked();
  void joinThread();
  void stopAndJoin();  // caller holds control_
  void resetPlaybackLocked();
  void usePaintWindow(void* wnd);
  std::uint32_t changeSpeed(int delta);

  const int index_;
  std::mutex control_;
  std::mutex m_;
  std::condition_variable wake_;  // for the display thread: data, control changes, stop
  std::condition_variable idle_;  // for callers: lease released, callback returned, thread ended

  std::shared_ptr<Stream> stream_;
  std::uint32_t openMode_ = 0;

  // Display thread.
  std::thread thread_;
  std::thread::id threadId_;
  bool threadActive_ = false;   // threadMain has not returned yet
  bool stopRequested_ = false;
  bool joining_ = false;        // a caller waits for the thread to end: it must not carry on
  bool waitingForData_ = false;
  bool dataArrived_ = false;
  bool leased_ = false;         // the thread reads the packet at the front of the ring unlocked
  const Stream* leasedStream_ = nullptr;
  bool unitHeld_ = false;       // leased until its pictures are shown (decoded in place)
  std::size_t heldBytes_ = 0;   // the held unit's bytes, consumed when it is done
  bool dropRequested_ = false;  // ResetSourceBuffer waits for the lease: drop dropBytes_ then
  std::size_t dropBytes_ = 0;
  bool callbackRunning_ = false;
  std::uint64_t callbackCalls_ = 0;
  KeptPicture kept_;
  bool keptWanted_ = false;  // a newly installed callback has not been handed kept_ yet
  std::uint64_t keptDrops_ = 0;  // counts resets and closes that dropped kept_

  // Playback.
  Pacer pacer_;
  bool paused_ = false;
  bool stepping_ = false;
  std::uint32_t stepCredits_ = 0;
  bool restartPacing_ = true;  // next frame at once, schedule from then
  bool starved_ = false;       // waited for data since the last frame

  // Counters of the open stream.
  std::uint32_t decoded_ = 0;
  std::uint32_t displayed_ = 0;
  std::uint32_t damaged_ = 0;

  // Settings.
  VdDisplayCallback callback_ = nullptr;
  DisplaySettings display_;
  std::uint32_t volume_ = 0xFFFF;
  DecodeOptions decodeOptions_;
  bool overlay_ = false;
  std::uint32_t colorKey_ = 0;

  std::mutex paintMutex_;
  std::unique_ptr<Painter> painter_;
  void* paintWindow_ = nullptr;
};

// Set when the process exits: display threads stop calling callbacks.
void markExiting();
bool exiting();

}  // namespace vdplay
