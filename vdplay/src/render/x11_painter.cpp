// X11 side: painting frames into a host's X11 window with Xlib, through the
// shared-memory extension where the server offers it. The only file of the
// library that sees the X11 headers.
//
// The window argument of VdPlay_Play carries the window id. Each painter has
// a connection of its own to the display named by DISPLAY, used by one
// thread at a time (under the port's paint lock) and always left synced, so
// that nothing of it is pending when the lock passes on. Painters of
// different ports paint at the same time on their own connections; Xlib is
// thread-safe from its loading on (libX11 1.8).
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "render/painter.h"
#include "render/stretch.h"

// After the standard headers: the extension writers' header (for the
// per-display error hook) defines min and max as macros.
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#undef min
#undef max

namespace vdplay {
namespace {

// Errors on a painter's connection are dropped by the connection itself
// (Xlib's per-display error conversion hook), so they never reach the
// process-wide error handler: the host's handler, or Xlib's default that
// prints and exits, see only errors of the host's own connections. The hook
// runs on the thread that reads the connection, which is the thread painting
// with it, so a thread-local count tells that thread what went wrong.
thread_local unsigned long t_errorsDropped = 0;

Bool dropError(Display*, XErrorEvent*, xError*) {
  ++t_errorsDropped;
  return False;
}

void dropAllErrors(Display* display) {
  for (int code = 1; code < 256; ++code) XESetWireToError(display, code, dropError);
}

// Syncs: the number of errors the requests so far caused, 0 when they all succeeded.
unsigned long syncErrors(Display* display) {
  const unsigned long before = t_errorsDropped;
  XSync(display, False);
  return t_errorsDropped - before;
}

// A broken connection (the server went away) goes to the process-wide I/O
// error handler, whose default prints and ends the process. For the
// painters' connections the handler installed here returns instead, and the
// painter's exit hook then stops that painter; other connections go on to
// the handler that was there before.
struct Connections {
  std::mutex mutex;
  std::vector<Display*> painting;  // the painters' connections
  // Broken connections with their graphics context: Xlib may not be called
  // on them any more, so they are kept instead of freed.
  std::vector<std::pair<Display*, GC>> broken;
};

// Never destroyed: display threads may still paint while the process exits.
Connections& connections() {
  static Connections* all = new Connections;
  return *all;
}

XIOErrorHandler g_previousIoHandler = nullptr;  // set once, before any painter's connection counts

bool isPainterConnection(Display* display) {
  Connections& all = connections();
  std::lock_guard<std::mutex> lk(all.mutex);
  return std::find(all.painting.begin(), all.painting.end(), display) != all.painting.end();
}

int onIoError(Display* display) {
  if (isPainterConnection(display)) return 0;
  return g_previousIoHandler ? g_previousIoHandler(display) : 0;
}

void addPainterConnection(Display* display) {
  static std::once_flag installed;
  std::call_once(installed, [] { g_previousIoHandler = XSetIOErrorHandler(onIoError); });
  Connections& all = connections();
  std::lock_guard<std::mutex> lk(all.mutex);
  all.painting.push_back(display);
}

// The painter is done with the connection; broken ones are kept (gc with them).
void removePainterConnection(Display* display, bool broken, GC gc) {
  Connections& all = connections();
  std::lock_guard<std::mutex> lk(all.mutex);
  all.painting.erase(std::find(all.painting.begin(), all.painting.end(), display));
  if (broken) all.broken.emplace_back(display, gc);
}

// How to turn 0x00RRGGBB into a pixel value of a true-colour visual.
struct ChannelShift {
  int shift = 0;  // lowest bit of the mask
  int bits = 0;   // width of the mask

  explicit ChannelShift(unsigned long mask) {
    if (!mask) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++bits;
    }
  }
  unsigned long place(std::uint32_t value8) const {
    const unsigned long v = bits >= 8 ? value8 << (bits - 8) : value8 >> (8 - bits);
    return v << shift;
  }
};

bool hostIsLittleEndian() {
  const std::uint16_t one = 1;
  std::uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// An image of the window's size, in the window's pixel format, in shared
// memory when the server takes it, else in this process's memory.
class WindowImage {
 public:
  // lost: set (by Xlib's exit hook) when the connection broke.
  explicit WindowImage(const std::atomic<bool>& lost) : lost_(lost) {}
  WindowImage(const WindowImage&) = delete;
  WindowImage& operator=(const WindowImage&) = delete;
  ~WindowImage() { release(); }

  bool matches(Visual* visual, int depth, int width, int height) const {
    return image_ && visual == visual_ && depth == depth_ && width == image_->width &&
           height == image_->height;
  }

  // Replaces the image; false (and no image) when none can be made.
  bool make(Display* display, Visual* visual, int depth, int width, int height, bool& useShm) {
    release();
    if (lost_) return false;
    display_ = display;
    visual_ = visual;
    depth_ = depth;
    if (useShm && !makeShared(width, height)) useShm = false;  // try plain memory from now on
    if (!image_) makePlain(width, height);
    return image_ != nullptr;
  }

  void clear() { release(); }

  // Lets go of the image without a word to the server, whose connection is
  // broken (Xlib must not be called on it again).
  void abandon() {
    if (shared_) shmdt(segment_.shmaddr);
    shared_ = false;
    destroyImage();  // frees memory only
  }
  XImage* image() const { return image_; }

  // True when a pixel is 0x00RRGGBB as a 32-bit word in host order, so that
  // rendered pixels can be written straight into the image.
  bool holdsXrgb() const {
    const bool hostOrder = (image_->byte_order == LSBFirst) == hostIsLittleEndian();
    return image_->bits_per_pixel == 32 && hostOrder && image_->red_mask == 0xFF0000 &&
           image_->green_mask == 0xFF00 && image_->blue_mask == 0xFF;
  }

  // Bits of a pixel that belong to none of the colour channels: alpha in
  // 32-bit windows with a transparency channel, to be set (opaque). 0 for
  // 24 bits and fewer.
  std::uint32_t alphaBits() const {
    const unsigned long all = depth_ >= 32 ? 0xFFFFFFFFUL : (1UL << depth_) - 1;
    return static_cast<std::uint32_t>(
        all & ~(image_->red_mask | image_->green_mask | image_->blue_mask));
  }

  void put(Window window, GC gc) {
    if (shared_)
      XShmPutImage(display_, window, gc, image_, 0, 0, 0, 0, image_->width, image_->height, False);
    else
      XPutImage(display_, window, gc, image_, 0, 0, 0, 0, image_->width, image_->height);
  }

 private:
  bool makeShared(int width, int height) {
    image_ = XShmCreateImage(display_, visual_, depth_, ZPixmap, nullptr, &segment_, width, height);
    if (!image_) return false;
    const std::size_t bytes = static_cast<std::size_t>(image_->bytes_per_line) * height;
    segment_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment_.shmid < 0) return destroyImage();
    void* memory = shmat(segment_.shmid, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) {
      shmctl(segment_.shmid, IPC_RMID, nullptr);
      return destroyImage();
    }
    segment_.shmaddr = image_->data = static_cast<char*>(memory);
    segment_.readOnly = True;
    const bool attached = XShmAttach(display_, &segment_) && syncErrors(display_) == 0;
    // Marked for removal once both sides hold it, the segment goes away with
    // the last detach, even if this process ends without cleaning up.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (!attached) {  // e.g. a server on another machine
      shmdt(memory);
      return destroyImage();
    }
    shared_ = true;
    return true;
  }

  void makePlain(int width, int height) {
    image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (!image_) return;
    plain_.assign(static_cast<std::size_t>(image_->bytes_per_line) * height, 0);
    image_->data = plain_.data();
  }

  void release() {
    if (shared_) {
      XShmDetach(display_, &segment_);
      XSync(display_, False);
      shmdt(segment_.shmaddr);
      shared_ = false;
    }
    destroyImage();
  }

  // Always false, for the failure paths.
  bool destroyImage() {
    if (image_) {
      image_->data = nullptr;  // the pixels belong to plain_ or the shared segment
      XDestroyImage(image_);
      image_ = nullptr;
    }
    segment_ = XShmSegmentInfo{0, -1, nullptr, False};
    return false;
  }

  const std::atomic<bool>& lost_;
  Display* display_ = nullptr;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  XImage* image_ = nullptr;
  bool shared_ = false;
  XShmSegmentInfo segment_{0, -1, nullptr, False};
  std::vector<char> plain_;
};

class X11Painter final : public FramePainter {
 public:
  // Takes over the connection.
  X11Painter(Display* display, Window window) : display_(display), window_(window) {
    dropAllErrors(display_);
    addPainterConnection(display_);
    XSetIOErrorExitHandler(display_, connectionLost, this);
    useShm_ = XShmQueryExtension(display_);
    if (lost_) return;
    XGCValues values;
    values.graphics_exposures = False;
    gc_ = XCreateGC(display_, window_, GCGraphicsExposures, &values);
  }

  ~X11Painter() override {
    removePainterConnection(display_, lost_, gc_);
    if (lost_) {
      // After a broken connection Xlib's lock of it is no longer usable:
      // the connection and its few resources are left as they are.
      image_.abandon();
      return;
    }
    image_.clear();
    XFreeGC(display_, gc_);
    XCloseDisplay(display_);
  }

  static std::unique_ptr<Painter> open(Window window);

 private:
  // Called by Xlib instead of ending the process once the connection broke.
  static void connectionLost(Display*, void* painter) {
    static_cast<X11Painter*>(painter)->lost_ = true;
  }

  // After each request that waits for the server, lost_ tells whether the
  // connection broke meanwhile; then nothing more may be sent.
  void draw(const DisplaySettings& settings) override {
    if (gone_ || lost_) return;
    XWindowAttributes target;  // asked before every picture: size, visual, mapped
    if (!XGetWindowAttributes(display_, window_, &target) || lost_) {
      // The host destroyed it; its id may come back for another window.
      gone_ = true;
      return;
    }
    if (target.map_state != IsViewable || target.width <= 0 || target.height <= 0) return;
    const int visualClass = target.visual->c_class;
    if (visualClass != TrueColor && visualClass != DirectColor) return;  // no colour map work

    const PixelRect src = renderShownPart(settings);

    if (!image_.matches(target.visual, target.depth, target.width, target.height) &&
        !image_.make(display_, target.visual, target.depth, target.width, target.height, useShm_))
      return;
    if (lost_) return;
    fillImage(src.width(), src.height());
    image_.put(window_, gc_);
    if (syncErrors(display_) != 0) gone_ = true;  // destroyed between the two requests
    if (!lost_) discardEvents();
  }

  void fillImage(int srcWidth, int srcHeight) {
    XImage* image = image_.image();
    const std::uint32_t opaque = image_.alphaBits();
    if (image_.holdsXrgb()) {
      auto* out = reinterpret_cast<std::uint32_t*>(image->data);
      const std::size_t stride = static_cast<std::size_t>(image->bytes_per_line) / 4;
      stretch_.apply(shownPixels(), srcWidth, srcHeight, out, image->width, image->height,
                     stride);
      if (opaque) {
        for (int y = 0; y < image->height; ++y)
          for (int x = 0; x < image->width; ++x) out[y * stride + x] |= opaque;
      }
      return;
    }
    // Another pixel format (e.g. 16 bits): stretch, then pack pixel by pixel.
    scaled_.resize(static_cast<std::size_t>(image->width) * image->height);
    stretch_.apply(shownPixels(), srcWidth, srcHeight, scaled_.data(), image->width,
                   image->height, static_cast<std::size_t>(image->width));
    const ChannelShift red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    const std::uint32_t* in = scaled_.data();
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x, ++in) {
        const std::uint32_t p = *in;
        XPutPixel(image, x, y, red.place(p >> 16 & 0xFF) | green.place(p >> 8 & 0xFF) |
                                   blue.place(p & 0xFF) | opaque);
      }
    }
  }

  // The server sends a few events to every client (e.g. keyboard mapping
  // changes); nothing here wants them.
  void discardEvents() {
    XEvent event;
    while (XPending(display_)) XNextEvent(display_, &event);
  }

  Display* display_;
  Window window_;
  GC gc_ = nullptr;
  bool useShm_ = false;
  bool gone_ = false;  // the window no longer exists: paint nothing
  std::atomic<bool> lost_{false};
  WindowImage image_{lost_};
  NearestStretch stretch_;
  std::vector<std::uint32_t> scaled_;  // only for pixel formats other than 0x00RRGGBB
};

std::unique_ptr<Painter> X11Painter::open(Window window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;  // no display: headless
  std::unique_ptr<X11Painter> painter(new X11Painter(display, window));
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return nullptr;  // no such window
  return painter;
}

}  // namespace

std::unique_ptr<Painter> createPainter(void* wnd) {
  const auto window = static_cast<Window>(reinterpret_cast<std::uintptr_t>(wnd));
  if (window == None) return nullptr;
  return X11Painter::open(window);
}

}  // namespace vdplay
