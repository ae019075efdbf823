#include "interrupt.h"

#include <csignal>

namespace spdemo {
namespace {

volatile std::sig_atomic_t interruptRequested = 0;

void onInterrupt(int) { interruptRequested = 1; }

}  // namespace

void catchInterrupts() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

bool interrupted() { return interruptRequested != 0; }

}  // namespace spdemo
