#include "playback/pacer.h"

#include <cstdint>

namespace vdplay {
namespace {

// A stamp step up to this long is always taken as the stream's own timing.
constexpr double kAlwaysUsableStepMs = 1000;

}  // namespace

void Pacer::setRate(std::uint32_t num, std::uint32_t den) {
  num_ = num;
  den_ = den;
  updateInterval();
}

void Pacer::updateInterval() {
  double seconds = static_cast<double>(den_) / static_cast<double>(num_);
  for (int i = 0; i < step_; ++i) seconds /= 2;
  for (int i = 0; i > step_; --i) seconds *= 2;
  interval_ = seconds;
}

double Pacer::scaledMs(double ms) const {
  for (int i = 0; i < step_; ++i) ms /= 2;
  for (int i = 0; i > step_; --i) ms *= 2;
  return ms;
}

Pacer::Clock::time_point Pacer::at(double msAfterAnchor) const {
  return anchor_ + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double, std::milli>(msAfterAnchor));
}

void Pacer::setSpeed(int step, Clock::time_point now) {
  step_ = step;
  updateInterval();
  // The last frame shown keeps its due time; the steps after it are scaled anew.
  if (!shownSinceRestart_) base_ = now;
}

void Pacer::restart(Clock::time_point now) {
  base_ = now;
  shownSinceRestart_ = false;
}

bool Pacer::usableStep(std::uint32_t stampMs, double& stepMs) const {
  if (!lastStamped_) return false;
  // Differences of 32-bit stamps stay right across the stamps' wrap.
  const auto step = static_cast<std::int32_t>(stampMs - lastStampMs_);
  if (step <= 0) return false;
  const double limit = lastStepMs_ * 2 > kAlwaysUsableStepMs ? lastStepMs_ * 2 : kAlwaysUsableStepMs;
  if (step > limit) return false;
  stepMs = step;
  return true;
}

double Pacer::stepAfterLastMs(bool stamped, std::uint32_t stampMs) const {
  double stepMs = 0;
  if (stamped && usableStep(stampMs, stepMs)) return scaledMs(stepMs);
  return interval_ * 1000;
}

Pacer::Clock::time_point Pacer::due() const {
  if (!shownSinceRestart_) return base_;
  return at(lastDueMs_ + stepAfterLastMs(false, 0));
}

Pacer::Clock::time_point Pacer::dueFor(std::uint32_t stampMs) const {
  if (!shownSinceRestart_) return base_;
  return at(lastDueMs_ + stepAfterLastMs(true, stampMs));
}

void Pacer::shown(Clock::time_point now) {
  setShown(stepAfterLastMs(false, 0), now);
  lastStamped_ = false;
}

void Pacer::shown(Clock::time_point now, std::uint32_t stampMs) {
  double stepMs = 0;
  const bool usable = shownSinceRestart_ && usableStep(stampMs, stepMs);
  setShown(stepAfterLastMs(true, stampMs), now);
  if (lastStamped_) {
    const auto step = static_cast<std::int32_t>(stampMs - lastStampMs_);
    // A usable step, or a longer positive one that may be the stream's new
    // rhythm (a slow camera): the next step of about that size is then usable.
    lastStepMs_ = usable ? stepMs : (step > 0 ? step : lastStepMs_);
  }
  lastStamped_ = true;
  lastStampMs_ = stampMs;
}

void Pacer::setShown(double stepMs, Clock::time_point now) {
  if (shownSinceRestart_) {
    lastDueMs_ += stepMs;
  } else {
    anchor_ = base_;
    lastDueMs_ = 0;
  }
  shownSinceRestart_ = true;
  const auto limit = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(interval_ * 4 > 0.1 ? interval_ * 4 : 0.1));
  if (now - at(lastDueMs_) > limit) {
    anchor_ = now;
    lastDueMs_ = 0;
  }
}

bool Pacer::follow(Clock::time_point heardAt, std::uint32_t stampMs) {
  if (!shownSinceRestart_ || !lastStamped_ || step_ != 0) return false;
  // Where the last frame shown would be due on the sound's time line.
  const double lastMs = static_cast<double>(static_cast<std::int32_t>(lastStampMs_ - stampMs));
  const Clock::time_point wanted =
      heardAt + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(lastMs));
  const double moveMs = std::chrono::duration<double, std::milli>(wanted - at(lastDueMs_)).count();
  if (moveMs > kMaxFollowMs || moveMs < -kMaxFollowMs) return false;
  anchor_ = heardAt;
  lastDueMs_ = lastMs;
  return true;
}

}  // namespace vdplay
