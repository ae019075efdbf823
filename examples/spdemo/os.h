// The little the demo needs from the operating system, with one Windows and
// one POSIX implementation: finding an optional function of the decoder
// library at run time, the system drive's root, and a video window.
#pragma once

#include <SinglePlayer.h>

#include <cstdint>
#include <memory>
#include <string>

namespace spdemo::os {

// A function pointer of no particular type; cast to the real one before use.
using AnyFunction = void (*)();

// The function of that name in the loaded decoder library, or null when the
// library has none.
AnyFunction findDecoderFunction(const char* name);

// The root folder of the system drive, ending in "/": "C:/" on Windows
// (from the system folder), "/" elsewhere.
std::string systemDriveRoot();

// A top-level window whose client area the decoder paints into. Only Windows
// has one; elsewhere open() fails.
class VideoWindow {
 public:
  virtual ~VideoWindow() = default;
  // A window with a client area of width by height pixels, or null with error set.
  static std::unique_ptr<VideoWindow> open(std::uint32_t width, std::uint32_t height,
                                           const std::string& title, std::string& error);
  virtual SP_HWND handle() const = 0;
  // Handles the waiting window messages; false once the user closed the window.
  virtual bool pump() = 0;
};

}  // namespace spdemo::os
