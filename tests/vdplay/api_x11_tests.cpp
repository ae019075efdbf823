// Painting into X11 windows (native builds with Xlib). The tests make their
// own windows on the display named by DISPLAY and read the pixels back; with
// no display they are skipped. They also hold the part of a host that sets
// its own X error handler: that handler must see only errors of the host's
// own connection.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/StandInPorts.h"
#include "support/Waiting.h"

// After the test framework: Xlib's macros (None, Bool, Status) clash with
// names in its headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

using namespace sp_test;
using vdstream::Payload;

namespace {

struct Colour {
  int r, g, b;
};

struct Yuv {
  std::uint8_t y, u, v;
};

constexpr Yuv kRed{81, 90, 240};
constexpr Yuv kGreen{145, 54, 34};
constexpr Yuv kBlue{41, 240, 110};
constexpr Yuv kWhite{235, 128, 128};

// A width x height picture: red top left, green top right, blue bottom
// left, white bottom right (sides even, quarters on chroma boundaries).
Bytes quarters(int width, int height) {
  Bytes pic(static_cast<std::size_t>(width) * height * 3 / 2);
  const auto quarterOf = [&](int x, int y) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    return bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
  };
  std::uint8_t* u = pic.data() + width * height;
  std::uint8_t* v = u + (width / 2) * (height / 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Yuv c = quarterOf(x, y);
      pic[y * width + x] = c.y;
      if (x % 2 == 0 && y % 2 == 0) {
        u[(y / 2) * (width / 2) + x / 2] = c.u;
        v[(y / 2) * (width / 2) + x / 2] = c.v;
      }
    }
  return pic;
}

int g_hostErrors = 0;
int countHostError(Display*, XErrorEvent*) {
  ++g_hostErrors;
  return 0;
}

::testing::AssertionResult near(const Colour& got, const Colour& want) {
  // Quantisation of 16-bit visuals and of the fixed-point conversion.
  const int tolerance = 12;
  if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
      std::abs(got.b - want.b) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got.r << "," << got.g << "," << got.b
                                       << " want " << want.r << "," << want.g << "," << want.b;
}

const Colour kRedRgb{255, 0, 0}, kGreenRgb{0, 255, 0}, kBlueRgb{0, 0, 255},
    kWhiteRgb{255, 255, 255}, kBlack{0, 0, 0};

std::uint8_t channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  int shift = 0, bits = 0;
  while (!(mask >> shift & 1)) ++shift;
  while (mask >> (shift + bits) & 1) ++bits;
  const unsigned long v = pixel >> shift & ((1UL << bits) - 1);
  // Scale a short channel to 0..255 (e.g. 31 -> 255).
  return static_cast<std::uint8_t>(v * 255 / ((1UL << bits) - 1));
}

// The server resets itself whenever its last client leaves, and refuses
// connections meanwhile; so the tests keep one connection for all of them
// and wait out a reset left over from an earlier program.
Display* openTestDisplay() {
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (Display* display = XOpenDisplay(nullptr)) return display;
    SleepMs(50);
  }
  return nullptr;
}

class X11Test : public PortTest {
 protected:
  static void SetUpTestSuite() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return;
    s_display = openTestDisplay();
    if (!s_display) return;
    std::printf("[ display  ] depth %d, shared memory %s\n",
                DefaultDepth(s_display, DefaultScreen(s_display)),
                XShmQueryExtension(s_display) ? "offered" : "not offered");
  }

  static void TearDownTestSuite() {
    if (s_display) XCloseDisplay(s_display);
    s_display = nullptr;
  }

  void SetUp() override {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) GTEST_SKIP() << "no DISPLAY (the tests run under xvfb-run)";
    ASSERT_TRUE(s_display) << "cannot open display " << name;
    display_ = s_display;
    g_hostErrors = 0;
    previousHandler_ = XSetErrorHandler(countHostError);
  }

  void TearDown() override {
    PortTest::TearDown();
    if (!display_) return;
    for (Window window : windows_) XDestroyWindow(display_, window);
    XSync(display_, False);
    // The host's handler is still in place.
    EXPECT_EQ(XSetErrorHandler(previousHandler_), &countHostError);
  }

  // A mapped top-level window with a black background at x, y.
  Window makeWindow(int width, int height, int x = 0, int y = 0) {
    const int screen = DefaultScreen(display_);
    const Window window =
        XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y, width, height, 0,
                            BlackPixel(display_, screen), BlackPixel(display_, screen));
    XSelectInput(display_, window, StructureNotifyMask);
    XMapRaised(display_, window);
    XEvent event;
    do XNextEvent(display_, &event);
    while (event.type != MapNotify || event.xmap.window != window);
    XSync(display_, False);
    windows_.push_back(window);
    return window;
  }

  void destroyWindow(Window window) {
    XDestroyWindow(display_, window);
    XSync(display_, False);
    windows_.erase(std::find(windows_.begin(), windows_.end(), window));
  }

  static void* handle(Window window) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window));
  }

  Colour pixelAt(Window window, int x, int y) {
    XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return {-1, -1, -1};
    const unsigned long p = XGetPixel(image, 0, 0);
    const Colour c{channel(p, image->red_mask), channel(p, image->green_mask),
                   channel(p, image->blue_mask)};
    XDestroyImage(image);
    return c;
  }

  // Opens a width x height stream on port 0, plays it into window and shows
  // one picture of quarters.
  void playQuarters(Window window, int width, int height) {
    stream_ = MakeTestStream(width, height, 0, Payload::Raw);
    ASSERT_TRUE(OpenTestStream(0, stream_, 8));
    VdPlay_SetDisplayCallBack(0, RecordFrame);
    ASSERT_TRUE(VdPlay_Play(0, handle(window)));
    showNext();
  }

  // Feeds one more picture of quarters and waits until it has been shown.
  void showNext() {
    const Bytes pic = quarters(static_cast<int>(stream_.width), static_cast<int>(stream_.height));
    const int shown = FrameLogOf(0).count;
    ASSERT_TRUE(Feed(0, vdstream::makePacket(pic.data(), pic.size(), 40 * shown, Payload::Raw)));
    ASSERT_TRUE(WaitFor([shown] { return FrameLogOf(0).count == shown + 1; }));
  }

  // The four quarters of the picture fill the window's four quarters.
  void expectQuarters(Window window, int width, int height) {
    const int midX = width / 2, midY = height / 2;
    EXPECT_TRUE(near(pixelAt(window, 0, 0), kRedRgb));
    EXPECT_TRUE(near(pixelAt(window, midX - 1, midY - 1), kRedRgb));
    EXPECT_TRUE(near(pixelAt(window, midX, midY - 1), kGreenRgb));
    EXPECT_TRUE(near(pixelAt(window, width - 1, 0), kGreenRgb));
    EXPECT_TRUE(near(pixelAt(window, midX - 1, midY), kBlueRgb));
    EXPECT_TRUE(near(pixelAt(window, 0, height - 1), kBlueRgb));
    EXPECT_TRUE(near(pixelAt(window, midX, midY), kWhiteRgb));
    EXPECT_TRUE(near(pixelAt(window, width - 1, height - 1), kWhiteRgb));
  }

  static Display* s_display;
  Display* display_ = nullptr;
  XErrorHandler previousHandler_ = nullptr;
  std::vector<Window> windows_;  // still there: destroyed after the test
  TestStream stream_;
};

Display* X11Test::s_display = nullptr;

}  // namespace

TEST_F(X11Test, PaintsThePictureAtItsOwnSize) {
  const Window window = makeWindow(32, 32);
  playQuarters(window, 32, 32);
  expectQuarters(window, 32, 32);
}

TEST_F(X11Test, ScalesThePictureToTheWindow) {
  const Window magnified = makeWindow(100, 60);
  playQuarters(magnified, 32, 32);
  expectQuarters(magnified, 100, 60);
  VdPlay_CloseStream(0);

  const Window reduced = makeWindow(20, 14);
  playQuarters(reduced, 64, 48);
  expectQuarters(reduced, 20, 14);
}

TEST_F(X11Test, FollowsAResizeWhilePlaying) {
  const Window window = makeWindow(32, 32);
  playQuarters(window, 32, 32);
  XResizeWindow(display_, window, 80, 40);
  XSync(display_, False);
  showNext();
  expectQuarters(window, 80, 40);
}

TEST_F(X11Test, AppliesTheColourValues) {
  const Window window = makeWindow(32, 32);
  ASSERT_TRUE(VdPlay_SetColor(0, 0, 0, 64, 64, 64));  // brightness 0
  playQuarters(window, 32, 32);
  for (int x : {8, 24})
    for (int y : {8, 24}) {
      const Colour c = pixelAt(window, x, y);
      EXPECT_LE(c.r + c.g + c.b, 3 * 128) << x << "," << y;
    }
  EXPECT_LT(pixelAt(window, 24, 24).r, 128);  // white became dark grey

  ASSERT_TRUE(VdPlay_SetColor(0, 0, 64, 64, 0, 64));  // no saturation: greys
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  const Colour red = pixelAt(window, 8, 8);
  EXPECT_TRUE(near(red, Colour{red.g, red.g, red.g}));
  EXPECT_TRUE(near(pixelAt(window, 24, 24), kWhiteRgb));
}

TEST_F(X11Test, DisplayRegionMagnifiesOneCorner) {
  const Window window = makeWindow(64, 64);
  playQuarters(window, 32, 32);
  VdRect bottomRight{16, 16, 32, 32};
  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, &bottomRight, nullptr, 1));
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  for (int at : {0, 31, 32, 63}) EXPECT_TRUE(near(pixelAt(window, at, 63 - at), kWhiteRgb)) << at;

  // A region round the centre: each quarter of it fills a quarter of the window.
  VdRect centre{8, 8, 24, 24};
  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, &centre, nullptr, 1));
  showNext();
  expectQuarters(window, 64, 64);

  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, nullptr, nullptr, 0));
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  expectQuarters(window, 64, 64);
}

TEST_F(X11Test, RefreshRepaintsAClearedWindow) {
  const Window window = makeWindow(40, 40);
  playQuarters(window, 32, 32);
  XClearWindow(display_, window);
  XSync(display_, False);
  ASSERT_TRUE(near(pixelAt(window, 30, 30), kBlack));
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  expectQuarters(window, 40, 40);
}

TEST_F(X11Test, WindowDestroyedWhilePlaying) {
  const Window window = makeWindow(32, 32);
  playQuarters(window, 32, 32);
  destroyWindow(window);
  for (int i = 0; i < 3; ++i) showNext();  // decoding and callbacks go on
  EXPECT_TRUE(VdPlay_RefreshPlay(0));
  EXPECT_EQ(g_hostErrors, 0);  // the stand-in's errors stayed on its own connection

  // An error of the host's own connection still reaches the host's handler.
  XWindowAttributes attributes;
  EXPECT_FALSE(XGetWindowAttributes(display_, window, &attributes));
  EXPECT_EQ(g_hostErrors, 1);
}

TEST_F(X11Test, NoWindowOrAnUnknownOnePlaysWithoutPainting) {
  const Window spare = makeWindow(16, 16);
  destroyWindow(spare);  // an id that names no window now
  for (void* wnd : {static_cast<void*>(nullptr), handle(spare)}) {
    stream_ = MakeTestStream(16, 16, 0, Payload::Raw);
    ASSERT_TRUE(OpenTestStream(0, stream_, 8));
    VdPlay_SetDisplayCallBack(0, RecordFrame);
    ASSERT_TRUE(VdPlay_Play(0, wnd));
    showNext();
    showNext();
    EXPECT_TRUE(VdPlay_RefreshPlay(0));
    ASSERT_TRUE(VdPlay_CloseStream(0));
  }
  EXPECT_EQ(g_hostErrors, 0);
}

TEST_F(X11Test, OpaqueInAWindowWithAnAlphaChannel) {
  XVisualInfo argb;
  if (!XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &argb))
    GTEST_SKIP() << "no 32-bit visual";
  const Window root = DefaultRootWindow(display_);
  XSetWindowAttributes attributes;
  attributes.colormap = XCreateColormap(display_, root, argb.visual, AllocNone);
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  const Window window =
      XCreateWindow(display_, root, 0, 0, 32, 32, 0, 32, InputOutput, argb.visual,
                    CWColormap | CWBorderPixel | CWBackPixel, &attributes);
  XMapRaised(display_, window);
  XSync(display_, False);
  windows_.push_back(window);
  playQuarters(window, 32, 32);
  expectQuarters(window, 32, 32);
  XImage* image = XGetImage(display_, window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  ASSERT_TRUE(image);
  const unsigned long alpha =
      XGetPixel(image, 0, 0) & ~(image->red_mask | image->green_mask | image->blue_mask);
  XDestroyImage(image);
  EXPECT_EQ(alpha, 0xFF000000UL);
  XFreeColormap(display_, attributes.colormap);
}

TEST_F(X11Test, PortsPaintTheirOwnWindows) {
  const Window left = makeWindow(24, 24), right = makeWindow(48, 30, 100, 0);
  TestStream a = MakeTestStream(16, 16, 0, Payload::Raw);
  TestStream b = MakeTestStream(32, 32, 0, Payload::Raw);
  ASSERT_TRUE(OpenTestStream(1, a, 8));
  ASSERT_TRUE(OpenTestStream(2, b, 8));
  VdPlay_SetDisplayCallBack(1, RecordFrame);
  VdPlay_SetDisplayCallBack(2, RecordFrame);
  ASSERT_TRUE(VdPlay_SetColor(2, 0, 64, 64, 0, 64));  // port 2 in grey only
  ASSERT_TRUE(VdPlay_Play(1, handle(left)));
  ASSERT_TRUE(VdPlay_Play(2, handle(right)));
  const Bytes small = quarters(16, 16), large = quarters(32, 32);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(Feed(1, vdstream::makePacket(small.data(), small.size(), 40 * i, Payload::Raw)));
    ASSERT_TRUE(Feed(2, vdstream::makePacket(large.data(), large.size(), 40 * i, Payload::Raw)));
  }
  ASSERT_TRUE(WaitFor([] { return FrameLogOf(1).count == 5 && FrameLogOf(2).count == 5; }));
  expectQuarters(left, 24, 24);
  const Colour grey = pixelAt(right, 0, 0);
  EXPECT_TRUE(near(grey, Colour{grey.g, grey.g, grey.g}));
  EXPECT_GT(grey.g, 40);
}
