#include "port.h"

#include <atomic>
#include <new>

#include "errors.h"

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
  if (!s || !s->ring.allocate(poolBytes) || !s->decoder.init(format)) return VDPLAY_ERR_ALLOC;

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
  if (!leased_ || leasedStream_ != s) {
    s->ring.clear();
    s->parser.reset();
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

// ---------------------------------------------------------------- playback

bool Port::onDisplayThread() {
  std::lock_guard<std::mutex> lk(m_);
  return threadActive_ && threadId_ == std::this_thread::get_id();
}

void Port::requestStopLocked() {
  stopRequested_ = true;
  wake_.notify_all();
}

void Port::joinThread() {
  if (thread_.joinable()) thread_.join();
}

void Port::stopAndJoin() {
  {
    std::lock_guard<std::mutex> lk(m_);
    requestStopLocked();
    joining_ = true;
  }
  joinThread();
  std::lock_guard<std::mutex> lk(m_);
  joining_ = false;
}

void Port::resetPlaybackLocked() {
  if (pacer_.speed() != 0) pacer_.setSpeed(0, Clock::now());
  paused_ = false;
  stepping_ = false;
  stepCredits_ = 0;
  restartPacing_ = true;
  wake_.notify_all();
}

void Port::usePaintWindow(void* wnd) {
  std::lock_guard<std::mutex> paint(paintMutex_);
  if (painter_ && wnd == paintWindow_) return;  // keep the last frame for repainting
  painter_ = createPainter(wnd);
  paintWindow_ = wnd;
}

std::uint32_t Port::play(void* wnd) {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> ctl(control_, std::defer_lock);
  if (!self) ctl.lock();
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    if (self) {
      // From the port's own callback (perhaps after Stop there): this thread
      // carries on, unless another caller is already waiting for it to end.
      if (joining_) return VDPLAY_ERR_ORDER;
      stopRequested_ = false;
    }
    if (runningLocked()) resetPlaybackLocked();
  }
  usePaintWindow(wnd);
  if (self) return 0;

  {
    std::lock_guard<std::mutex> lk(m_);
    if (runningLocked()) return 0;
  }
  stopAndJoin();  // a thread that stopped from its own callback may still be finishing
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  stopRequested_ = false;
  waitingForData_ = dataArrived_ = false;
  starved_ = false;
  resetPlaybackLocked();
  threadActive_ = true;
  try {
    thread_ = std::thread(&Port::threadMain, this);
  } catch (...) {
    threadActive_ = false;
    return VDPLAY_ERR_ALLOC;
  }
  threadId_ = thread_.get_id();
  return 0;
}

std::uint32_t Port::stop() {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> ctl(control_, std::defer_lock);
  if (!self) ctl.lock();
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    requestStopLocked();
  }
  if (!self) stopAndJoin();
  return 0;
}

std::uint32_t Port::pause(std::uint32_t pause) {
  if (pause > 1) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  if (pause) {
    paused_ = true;
  } else {
    if (paused_ || stepping_) restartPacing_ = true;
    paused_ = stepping_ = false;
    stepCredits_ = 0;
  }
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::changeSpeed(int delta) {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  const int step = pacer_.speed() + delta;
  if (step > VDPLAY_MAX_SPEED_STEP || step < -VDPLAY_MAX_SPEED_STEP) return VDPLAY_ERR_ORDER;
  pacer_.setSpeed(step, Clock::now());
  if (paused_ || stepping_) restartPacing_ = true;
  paused_ = stepping_ = false;
  stepCredits_ = 0;
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::oneByOne() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  if (!stepping_) stepCredits_ = 0;
  stepping_ = true;
  paused_ = false;
  ++stepCredits_;
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::refresh() {
  DisplaySettings settings;
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    settings = display_;
  }
  std::lock_guard<std::mutex> paint(paintMutex_);
  if (painter_) painter_->repaint(settings);
  return 0;
}

// ---------------------------------------------------------------- display thread

void Port::threadMain() {
  std::unique_lock<std::mutex> lk(m_);
  while (!stopRequested_) {
    const std::shared_ptr<Stream> s = stream_;
    if (!s) break;
    PacketRef packet;
    const PacketParser::Result found = s->parser.next(s->ring, packet);
    if (found.damaged) noteDamaged(found.damaged);
    if (found.status == PacketParser::Status::NeedData) {
      starved_ = true;
      waitingForData_ = true;
      dataArrived_ = false;
      wake_.wait(lk, [&] {
        return stopRequested_ || dataArrived_ || stream_ != s || keptPictureDue();
      });
      waitingForData_ = false;
      if (keptPictureDue()) handOverKeptPicture(lk);
      continue;
    }

    leased_ = true;
    leasedStream_ = s.get();
    lk.unlock();
    const std::uint8_t* picture = s->decoder.decode(s->ring, packet);
    lk.lock();
    if (!picture) {
      noteDamaged(1);
      releaseLease(s.get(), packet.totalSize);
      continue;
    }
    ++decoded_;
    if (!waitToShow(lk, s.get())) {
      releaseLease(s.get(), 0);  // not shown: it stays for the next Play
      continue;
    }
    Picture shown;
    shown.data = picture;
    shown.bytes = s->format.pictureBytes;
    shown.width = static_cast<int>(s->format.width);
    shown.height = static_cast<int>(s->format.height);
    shown.stampMs = packet.stampMs;
    show(lk, shown);
    releaseLease(s.get(), packet.totalSize);
  }
  threadActive_ = false;
  idle_.notify_all();
}

bool Port::waitToShow(std::unique_lock<std::mutex>& lk, const Stream* s) {
  for (;;) {
    if (stopRequested_ || stream_.get() != s || dropRequested_) return false;
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
        return true;
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
    if (now >= pacer_.due()) return true;
    wake_.wait_until(lk, pacer_.due());
  }
}

void Port::show(std::unique_lock<std::mutex>& lk, const Picture& picture) {
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
    std::lock_guard<std::mutex> paint(paintMutex_);
    if (painter_) painter_->present(picture.data, picture.width, picture.height, settings);
  }
  keep(picture);
  if (cb) {
    cb(index_, reinterpret_cast<char*>(const_cast<std::uint8_t*>(picture.data)),
       static_cast<VdLong>(picture.bytes), picture.width, picture.height,
       static_cast<VdLong>(picture.stampMs), VDPLAY_FRAME_I420, 0);
  }
  lk.lock();
  // Unless a reset or close came meanwhile, it is the picture on display.
  kept_.valid = keptDrops_ == drops;
  callbackRunning_ = false;
  ++displayed_;
  if (!stepped) pacer_.shown(Clock::now());
  idle_.notify_all();
}

void Port::keep(const Picture& picture) {
  // assign() reuses the buffer: no allocation while the picture size stays.
  kept_.bytes.assign(picture.data, picture.data + picture.bytes);
  kept_.width = picture.width;
  kept_.height = picture.height;
  kept_.stampMs = picture.stampMs;
}

bool Port::keptPictureDue() const {
  return keptWanted_ && kept_.valid && callback_ && !exiting();
}

void Port::handOverKeptPicture(std::unique_lock<std::mutex>& lk) {
  const VdDisplayCallback cb = callback_;
  keptWanted_ = false;
  callbackRunning_ = true;
  ++callbackCalls_;
  lk.unlock();
  // Only this thread writes kept_.bytes, so they need no lock while in use.
  cb(index_, reinterpret_cast<char*>(kept_.bytes.data()), static_cast<VdLong>(kept_.bytes.size()),
     kept_.width, kept_.height, static_cast<VdLong>(kept_.stampMs), VDPLAY_FRAME_I420, 0);
  lk.lock();
  callbackRunning_ = false;
  idle_.notify_all();
}

void Port::dropKeptPictureLocked() {
  ++keptDrops_;
  kept_.valid = false;
  keptWanted_ = false;
}

void Port::releaseLease(const Stream* s, std::size_t consumed) {
  if (stream_.get() == s) {
    Stream* open = stream_.get();
    if (dropRequested_) {
      open->ring.consume(dropBytes_);
      open->parser.reset();
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

void Port::stopForExit(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lk(m_);
  requestStopLocked();
  if (threadActive_ && threadId_ == std::this_thread::get_id()) return;
  if (!idle_.wait_until(lk, deadline, [&] { return !threadActive_; })) return;
  lk.unlock();
  // The thread has finished; join it unless another caller is starting or
  // joining it right now.
  if (control_.try_lock()) {
    joinThread();
    control_.unlock();
  }
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
  *width = static_cast<VdLong>(stream_->format.width);
  *height = static_cast<VdLong>(stream_->format.height);
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
      const auto w = static_cast<std::int32_t>(stream_->format.width);
      const auto h = static_cast<std::int32_t>(stream_->format.height);
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
  highQuality_ = high;
  return 0;
}

std::uint32_t Port::throwBFrames(std::uint32_t count) {
  if (count > 2) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  throwBFrames_ = count;
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
