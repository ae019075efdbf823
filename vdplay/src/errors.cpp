#include "errors.h"

#include <mutex>
#include <new>

#include "VdPlay.h"

namespace vdplay {
namespace {

struct ErrorBook {
  std::mutex mutex;
  std::uint64_t sequence = 0;
  std::uint32_t portCode[VDPLAY_MAX_PORTS] = {};
  std::uint64_t portSequence[VDPLAY_MAX_PORTS] = {};
  std::uint32_t conversionCode = 0;
  std::uint64_t conversionSequence = 0;
};

// Never destroyed: display threads may still record errors while the
// process exits. In static storage, so that recording an allocation failure
// needs no allocation.
ErrorBook& book() {
  alignas(ErrorBook) static unsigned char storage[sizeof(ErrorBook)];
  static ErrorBook* b = new (storage) ErrorBook;
  return *b;
}

}  // namespace

void recordPortError(int port, std::uint32_t code) {
  ErrorBook& b = book();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.portCode[port] = code;
  b.portSequence[port] = ++b.sequence;
}

void recordConversionError(std::uint32_t code) {
  ErrorBook& b = book();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.conversionCode = code;
  b.conversionSequence = ++b.sequence;
}

std::uint32_t lastError(int port) {
  ErrorBook& b = book();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.conversionSequence > b.portSequence[port] ? b.conversionCode : b.portCode[port];
}

}  // namespace vdplay
