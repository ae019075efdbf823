// A port's stream (open, close, input, reset) and its settings. Playback
// control is in port_control.cpp, the port's thread in display_loop.cpp.
#include "port/port.h"

#include <new>

#include "errors.h"

namespace vdplay {

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
  if (!s || !s->source.allocate(poolBytes)) return VDPLAY_ERR_ALLOC;
  // A program or transport stream that leaves the codec to the stream gets
  // its decoder when the stream names it.
  if (!vdstream::isMpegFraming(format.framing) || format.codec != vdstream::Codec::None) {
    if (const std::uint32_t failed = createPictureDecoder(format, s->decoder)) return failed;
    s->decoderCodec = format.codec;
  }

  std::lock_guard<std::mutex> lk(m_);
  if (stream_) return VDPLAY_ERR_ORDER;  // another caller opened it meanwhile
  stream_ = std::move(s);
  decoded_ = displayed_ = damaged_ = audioPlayed_ = audioDamaged_ = 0;
  display_.regionEnabled = false;
  clock_.setRate(format.fpsNum, format.fpsDen);
  wake_.notify_all();  // a thread kept running from its own callback picks up the new stream
  return 0;
}

std::uint32_t Port::closeStream() {
  const PortThread::Control control(thread_);
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    thread_.requestStop();
    stream_.reset();  // the thread keeps its own reference until it lets go
    callbacks_.dropKept();
    display_.regionEnabled = false;
  }
  if (!control.self()) thread_.stopAndJoin();
  window_.close();
  return 0;
}

std::uint32_t Port::inputData(const std::uint8_t* data, std::size_t length) {
  std::unique_lock<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  if (!data) return VDPLAY_ERR_BAD_ARGUMENT;
  if (!stream_->source.write(data, length)) return VDPLAY_ERR_BUFFER_FULL;
  if (waitingForData_ && length) {
    lk.unlock();
    wake_.notify_one();
  }
  return 0;
}

std::uint32_t Port::resetSourceBuffer() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  callbacks_.dropKept();
  // Waits for a unit being taken, never for the display; the thread then
  // flushes the decoder and drops the frame waiting for its time.
  stream_->source.clear();
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::bytesWaiting() {
  std::lock_guard<std::mutex> lk(m_);
  return stream_ ? static_cast<std::uint32_t>(stream_->source.bytesWaiting()) : 0;
}

// ---------------------------------------------------------------- settings

std::uint32_t Port::setDisplayCallback(VdDisplayCallback callback) {
  callbacks_.set(callback, thread_.isCurrent());
  std::lock_guard<std::mutex> lk(m_);
  wake_.notify_all();  // the thread hands the new callback the frame on display
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
  if (wnd) window_.use(wnd);
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
  out.bytesWaiting = stream_ ? static_cast<VdDword>(stream_->source.bytesWaiting()) : 0;
  out.speedStep = clock_.speed();
  out.paused = clock_.paused();
  out.stepping = clock_.stepping();
  out.playing = thread_.running();
  out.streamOpen = stream_ != nullptr;
  out.audioUnitsPlayed = audioPlayed_;
  out.audioUnitsDamaged = audioDamaged_;
  out.soundHeard = soundHeard_;
}

}  // namespace vdplay
