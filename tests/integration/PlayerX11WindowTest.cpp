// The player hands a host's X11 window to the decoder, which paints into it
// (native builds with Xlib; skipped without DISPLAY).
#include <cstdlib>

#include "support/PlayerOverDecoderFixture.h"
#include "support/Waiting.h"

// After the test framework: Xlib's macros (None, Bool, Status) clash with
// names in its headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace sp_test {
namespace {

// The test pattern's bars as 8-bit RGB: white, yellow, cyan, green, magenta,
// red, blue, black.
constexpr int kBarRgb[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                               {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

class PlayerX11Window : public PlayerOverDecoder {
 protected:
  void SetUp() override {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) GTEST_SKIP() << "no DISPLAY (the tests run under xvfb-run)";
    // A server resetting after its last client left refuses connections
    // for a moment.
    for (int attempt = 0; attempt < 40 && !display_; ++attempt) {
      display_ = XOpenDisplay(nullptr);
      if (!display_) SleepMs(50);
    }
    ASSERT_TRUE(display_) << "cannot open display " << name;
    PlayerOverDecoder::SetUp();
  }

  void TearDown() override {
    if (!display_) return;
    PlayerOverDecoder::TearDown();
    if (window_) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }

  SP_HWND MakeWindow(int width, int height) {
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, width, height, 0,
                                  BlackPixel(display_, screen), BlackPixel(display_, screen));
    XSelectInput(display_, window_, StructureNotifyMask);
    XMapWindow(display_, window_);
    XEvent event;
    do XNextEvent(display_, &event);
    while (event.type != MapNotify);
    XSync(display_, False);
    return reinterpret_cast<SP_HWND>(static_cast<std::uintptr_t>(window_));
  }

  // Channels of the window's pixel, scaled to 0..255.
  void PixelAt(int x, int y, int rgb[3]) {
    XImage* image = XGetImage(display_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
    ASSERT_TRUE(image);
    const unsigned long pixel = XGetPixel(image, 0, 0);
    const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
    for (int ch = 0; ch < 3; ++ch) {
      unsigned long mask = masks[ch], value = pixel & mask;
      while (!(mask & 1)) {
        mask >>= 1;
        value >>= 1;
      }
      rgb[ch] = static_cast<int>(value * 255 / mask);
    }
    XDestroyImage(image);
  }

  // The bars of frame (shown 1:1) at a row the moving square leaves free.
  void ExpectBarsOf(int frame) {
    const int squareY = (2 * frame) % (288 - 72);
    const int row = squareY > 10 ? 5 : 283;
    for (int bar = 0; bar < 8; ++bar) {
      int rgb[3];
      PixelAt(bar * 44 + 22, row, rgb);
      const int* want = kBarRgb[(bar + frame / 8) % 8];
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_NEAR(rgb[ch], want[ch], 12) << "bar " << bar << " of frame " << frame;
    }
  }

  Display* display_ = nullptr;
  Window window_ = 0;
};

TEST_F(PlayerX11Window, ShowsTheStreamRefreshesAndAppliesVideoParameters) {
  Init(0);
  const TestStream s = MakeTestStream(352, 288, 20, vdstream::Payload::Zlib, 25);
  Open(s, MakeWindow(352, 288));
  for (int i = 0; i < 12; ++i) ASSERT_EQ(Input(s.packets[i]), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 12; }));
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  const int frame = static_cast<int>(Shown()) - 1;
  ExpectBarsOf(frame);

  XClearWindow(display_, window_);
  XSync(display_, False);
  ASSERT_EQ(player->Play_RefreshPlay(kPort), SP_OK);
  ExpectBarsOf(frame);

  SP_VIDEO_PARA dark{0, 0, 50, 50, 50, 0};  // brightness 0
  ASSERT_EQ(player->Play_SetVideoPara(kPort, &dark, 0), SP_OK);
  ASSERT_EQ(player->Play_RefreshPlay(kPort), SP_OK);
  int white[3];
  PixelAt(((8 - frame / 8 % 8) % 8) * 44 + 22, (2 * frame) % 216 > 10 ? 5 : 283, white);
  EXPECT_LT(white[0] + white[1] + white[2], 3 * 128) << "the white bar darkened";

  // Playing on paints the next frames into the same window.
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PLAY), SP_OK);
  SP_VIDEO_PARA normal{0, 50, 50, 50, 50, 0};
  ASSERT_EQ(player->Play_SetVideoPara(kPort, &normal, 0), SP_OK);
  for (int i = 12; i < 20; ++i) ASSERT_EQ(Input(s.packets[i]), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() == 20; }));
  ExpectBarsOf(19);
}

}  // namespace
}  // namespace sp_test
