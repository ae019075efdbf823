// Painting frames into a window. The Windows build paints with GDI
// (gdi_painter.cpp), native builds with Xlib into X11 windows
// (x11_painter.cpp); a native build without Xlib has no painter
// (no_painter.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "frame.h"
#include "render/color.h"

namespace vdplay {

struct DisplaySettings {
  ColorSettings color;
  bool regionEnabled = false;
  PixelRect region;  // part of the picture to show when enabled
};

class Painter {
 public:
  virtual ~Painter() = default;
  // Shows a new frame scaled to the window; holds on to it for repaint().
  virtual void present(const Frame& frame, const DisplaySettings& settings) = 0;
  // Paints the last frame again, with the current settings.
  virtual void repaint(const DisplaySettings& settings) = 0;
};

// The common part of the window painters: holds the last frame for
// repaint() and converts the part of it that the settings show (the display
// region when it lies within the picture, else the whole picture) to
// 0x00RRGGBB pixels. A platform painter only puts those pixels on screen.
class FramePainter : public Painter {
 public:
  void present(const Frame& frame, const DisplaySettings& settings) final;
  void repaint(const DisplaySettings& settings) final;

 protected:
  // Puts the last frame on screen with the settings.
  virtual void draw(const DisplaySettings& settings) = 0;
  // Converts the shown part into shownPixels(), row by row; returns it.
  PixelRect renderShownPart(const DisplaySettings& settings);
  const std::uint32_t* shownPixels() const { return pixels_.data(); }

 private:
  Frame frame_;
  const std::uint8_t* i420_ = nullptr;  // frame_'s pixels
  std::vector<std::uint32_t> pixels_;
};

// A painter for the window (an HWND, or an X11 window id cast to void*), or
// nullptr when wnd is null, no window, or there is no display.
std::unique_ptr<Painter> createPainter(void* wnd);

}  // namespace vdplay
