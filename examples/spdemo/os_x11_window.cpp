// The video window on X11: a top-level window whose id goes to the player as
// the window handle; the decoder paints into it over a connection of its own.
#include <cstdint>

#include "os.h"

// After the project's headers: Xlib defines macros such as None and Status.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace spdemo::os {
namespace {

class X11VideoWindow : public VideoWindow {
 public:
  X11VideoWindow(Display* display, Window window, Atom deleteWindow)
      : display_(display), window_(window), deleteWindow_(deleteWindow) {}
  ~X11VideoWindow() override {
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }
  SP_HWND handle() const override {
    return reinterpret_cast<SP_HWND>(static_cast<std::uintptr_t>(window_));
  }
  bool pump() override {
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage &&
          static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
        closed_ = true;  // the window manager's close button
    }
    return !closed_;
  }

 private:
  Display* display_;
  Window window_;
  Atom deleteWindow_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<VideoWindow> VideoWindow::open(std::uint32_t width, std::uint32_t height,
                                               const std::string& title, std::string& error) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    error = "cannot open the X display (is DISPLAY set?)";
    return nullptr;
  }
  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width,
                                            height, 0, BlackPixel(display, screen),
                                            BlackPixel(display, screen));
  XStoreName(display, window, title.c_str());
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  // The decoder paints only into a window that is on the screen.
  XEvent event;
  do XNextEvent(display, &event);
  while (event.type != MapNotify);
  XSync(display, False);
  return std::make_unique<X11VideoWindow>(display, window, deleteWindow);
}

}  // namespace spdemo::os
