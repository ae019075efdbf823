// A port's stream (open, close, input, reset) and its settings. Playback
// control is in port_playback.cpp, the display thread in display_thread.cpp.
#include "port.h"

#include <atomic>
#include <new>

#include "errors.h"
#include "picture_decoder.h"

namespace vdplay {
namespace {

std::atomic<bool> g_exiting{false};

}  // namespace

void markExiting() { g_exiting.store(true); }
bool exiting() { return g_exiting.load(); }

// ---------------------------------------------------------------- stream

std::uint32_t Port::setStreamOpenMode(std::uint32_t mode) {
  if (mode > 1) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  openMode_ = mode;
  return 0;
}

std::uint32_t Port::openStream(const std::uint8_t* header, std::size_t length,
                               std::uint32_t poolBytes) {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (stream_) return VDPLAY_ERR_ORDER;
  }
  StreamFormat format;
  if (const std::uint32_t refused = parseFileHeader(header, length, format)) return refused;
  if (poolBytes == 0 || poolBytes > VDPLAY_MAX_POOL_BYTES || poolBytes < minPoolBytes(format))
    return VDPLAY_ERR_BAD_ARGUMENT;

  // Allocate without the lock: a large pool takes a while.
  std::shared_ptr<Stream> s(new (std::nothrow) Stream(format));
  if (!s || !s->ring.allocate(poolBytes)) return VDPLAY_ERR_ALLOC;
  if (const std::uint32_t failed = createPictureDecoder(format, s->decoder)) return failed;

  std::lock_guard<std::mutex> lk(m_);
  if (stream_) return VDPLAY_ERR_ORDER;  // another caller opened it meanwhile
  stream_ = std::move(s);
  decoded_ = displayed_ = damaged_ = 0;
  display_.regionEnabled = false;
  pacer_.setRate(format.fpsNum, format.fpsDen);
  dropRequested_ = false;
  wake_.notify_all();  // a thread kept running from its own callback picks up the new stream
  return 0;
}

std::uint32_t Port::closeStream() {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> ctl(control_, std::defer_lock);
  if (!self) ctl.lock();
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    requestStopLocked();
    stream_.reset();  // the thread keeps its own reference until it lets go
    dropKeptPictureLocked();
    display_.regionEnabled = false;
    idle_.notify_all();
  }
  if (!self) stopAndJoin();
  std::lock_guard<std::mutex> paint(paintMutex_);
  painter_.reset();
  paintWindow_ = nullptr;
  return 0;
}

std::uint32_t Port::inputData(const std::uint8_t* data, std::size_t length) {
  std::unique_lock<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  if (!data) return VDPLAY_ERR_BAD_ARGUMENT;
  if (!stream_->ring.write(data, length)) return VDPLAY_ERR_BUFFER_FULL;
  if (waitingForData_ && length) {
    dataArrived_ = true;
    lk.unlock();
    wake_.notify_one();
  }
  return 0;
}

std::uint32_t Port::resetSourceBuffer() {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  dropKeptPictureLocked();
  Stream* s = stream_.get();
  ++s->resets;  // the display thread flushes the decoder and drops its pending picture
  wake_.notify_all();
  if (!leased_ || leasedStream_ != s) {
    s->ring.clear();
    s->reader.reset();
    return 0;
  }
  // The display thread is reading the front packet: it drops everything that
  // is here now as soon as it lets go of that packet.
  dropRequested_ = true;
  dropBytes_ = s->ring.size();
  wake_.notify_all();
  if (!self) idle_.wait(lk, [&] { return !dropRequested_ || stream_.get() != s; });
  return 0;
}

std::uint32_t Port::bytesWaiting() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return 0;
  const std::size_t n = stream_->ring.size() - (dropRequested_ ? dropBytes_ : 0);
  return static_cast<std::uint32_t>(n);
}

// ---------------------------------------------------------------- settings

std::uint32_t Port::setDisplayCallback(VdDisplayCallback callback) {
  std::unique_lock<std::mutex> lk(m_);
  callback_ = callback;
  // The display thread hands the new callback the picture on display; never
  // this call, so a caller holding a lock of its own cannot deadlock on it.
  keptWanted_ = callback != nullptr;
  if (keptWanted_) wake_.notify_all();
  if (threadActive_ && threadId_ == std::this_thread::get_id()) return 0;
  // A call that started before the change must end first; a call started
  // after it already uses the new callback.
  const std::uint64_t calls = callbackCalls_;
  idle_.wait(lk, [&] { return !callbackRunning_ || callbackCalls_ != calls; });
  return 0;
}

std::uint32_t Port::pictureSize(VdLong* width, VdLong* height) {
  if (!width || !height) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  *width = static_cast<VdLong>(stream_->width);
  *height = static_cast<VdLong>(stream_->height);
  return 0;
}

std::uint32_t Port::setColor(std::uint32_t region, int brightness, int contrast, int saturation,
                             int hue) {
  if (region != 0 || !ColorSettings::valid(brightness) || !ColorSettings::valid(contrast) ||
      !ColorSettings::valid(saturation) || !ColorSettings::valid(hue))
    return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  display_.color = ColorSettings{brightness, contrast, saturation, hue};
  return 0;
}

std::uint32_t Port::setDisplayRegion(std::uint32_t region, const VdRect* rect, void* wnd,
                                     bool enable) {
  if (region != 0) return VDPLAY_ERR_BAD_ARGUMENT;
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    if (enable) {
      if (!rect) return VDPLAY_ERR_BAD_ARGUMENT;
      const auto w = static_cast<std::int32_t>(stream_->width);
      const auto h = static_cast<std::int32_t>(stream_->height);
      if (rect->left < 0 || rect->top < 0 || rect->right > w || rect->bottom > h ||
          rect->left >= rect->right || rect->top >= rect->bottom)
        return VDPLAY_ERR_BAD_ARGUMENT;
      display_.region = PixelRect{rect->left, rect->top, rect->right, rect->bottom};
    }
    display_.regionEnabled = enable;
  }
  if (wnd) usePaintWindow(wnd);
  return 0;
}

std::uint32_t Port::setVolume(std::uint32_t volume) {
  if (volume > 0xFFFF) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  volume_ = volume;
  return 0;
}

std::uint32_t Port::setPicQuality(bool high) {
  std::lock_guard<std::mutex> lk(m_);
  decodeOptions_.lowQuality = !high;
  return 0;
}

std::uint32_t Port::throwBFrames(std::uint32_t count) {
  if (count > 2) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  decodeOptions_.throwB = count;
  return 0;
}

std::uint32_t Port::setOverlayMode(bool overlay, std::uint32_t colorKey) {
  if (colorKey > 0x00FFFFFF) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  overlay_ = overlay;
  colorKey_ = colorKey;
  return 0;
}

void Port::stats(VdPlayStats& out) {
  std::lock_guard<std::mutex> lk(m_);
  out.framesDecoded = decoded_;
  out.framesDisplayed = displayed_;
  out.packetsDamaged = damaged_;
  out.bytesWaiting = stream_ ? static_cast<VdDword>(stream_->ring.size() -
                                                    (dropRequested_ ? dropBytes_ : 0))
                             : 0;
  out.speedStep = pacer_.speed();
  out.paused = paused_;
  out.stepping = stepping_;
  out.playing = runningLocked();
  out.streamOpen = stream_ != nullptr;
}

}  // namespace vdplay
