// The parts of the seam shared by both systems: the test overrides.
#include "platform/Platform.h"

#include <mutex>

namespace sp::platform {
namespace {

struct Overrides {
  std::mutex mutex;
  bool systemDirectoryOverridden = false;
  std::optional<std::string> systemDirectory;
  std::function<LocalTime()> clock;
};

Overrides& overrides() {
  static Overrides instance;
  return instance;
}

}  // namespace

std::optional<std::string> SystemDirectory() {
  Overrides& o = overrides();
  {
    std::lock_guard<std::mutex> lock(o.mutex);
    if (o.systemDirectoryOverridden) return o.systemDirectory;
  }
  return detail::RealSystemDirectory();
}

LocalTime LocalNow() {
  Overrides& o = overrides();
  std::function<LocalTime()> clock;
  {
    std::lock_guard<std::mutex> lock(o.mutex);
    clock = o.clock;
  }
  return clock ? clock() : detail::RealLocalNow();
}

namespace testing {

void OverrideSystemDirectory(std::optional<std::string> dir) {
  Overrides& o = overrides();
  std::lock_guard<std::mutex> lock(o.mutex);
  o.systemDirectoryOverridden = true;
  o.systemDirectory = std::move(dir);
}

void ResetSystemDirectory() {
  Overrides& o = overrides();
  std::lock_guard<std::mutex> lock(o.mutex);
  o.systemDirectoryOverridden = false;
  o.systemDirectory.reset();
}

void OverrideClock(std::function<LocalTime()> clock) {
  Overrides& o = overrides();
  std::lock_guard<std::mutex> lock(o.mutex);
  o.clock = std::move(clock);
}

}  // namespace testing
}  // namespace sp::platform
