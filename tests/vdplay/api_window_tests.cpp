// Painting into a window (Windows only). Where no visible window can be made
// (Wine without a display) a message-only window still runs the painting
// code, and only the pixel checks are left out.
#include <windows.h>

#include <cstdio>

#include "support/StandInPorts.h"
#include "support/Waiting.h"

using namespace sp_test;
using vdstream::Payload;

namespace {

class WindowTest : public PortTest {};

// A 16 x 16 picture: Y everywhere, (u, v) in the top left chroma quarter,
// blue elsewhere.
Bytes picture(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  Bytes pic(16 * 16 * 3 / 2);
  for (int row = 0; row < 16; ++row)
    for (int x = 0; x < 16; ++x) pic[row * 16 + x] = x < 8 && row < 8 ? y : 41;
  for (int i = 0; i < 64; ++i) {
    const bool corner = i % 8 < 4 && i / 8 < 4;
    pic[256 + i] = corner ? u : 240;
    pic[320 + i] = corner ? v : 110;
  }
  return pic;
}

}  // namespace

TEST_F(WindowTest, PaintsTheFrameWithColourAndRegion) {
  HWND wnd = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "vdplay", WS_POPUP | WS_VISIBLE, 0, 0, 64,
                             64, nullptr, nullptr, nullptr, nullptr);
  const bool visible = wnd != nullptr;
  if (!visible)
    wnd = CreateWindowExA(0, "STATIC", "vdplay", 0, 0, 0, 64, 64, HWND_MESSAGE, nullptr, nullptr,
                          nullptr);
  ASSERT_TRUE(wnd);
  std::printf("[ pixels   ] %s\n", visible ? "checked in a visible window"
                                            : "not checked: no visible window (no display)");
  const auto pixelAt = [wnd](int x, int y) {
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(wnd, dc);
    return c;
  };
  const auto isRed = [](COLORREF c) { return GetRValue(c) >= 250 && GetBValue(c) <= 5; };

  TestStream s = MakeTestStream(16, 16, 0, Payload::Raw);
  ASSERT_TRUE(OpenTestStream(0, s, 8));
  VdPlay_SetDisplayCallBack(0, RecordFrame);
  ASSERT_TRUE(VdPlay_Play(0, wnd));
  const Bytes red = picture(81, 90, 240);
  ASSERT_TRUE(Feed(0, vdstream::makePacket(red.data(), red.size(), 0, Payload::Raw)));
  ASSERT_TRUE(WaitFor([] { return FrameLogOf(0).count == 1; }));
  // The top left quarter only, stretched over the whole window: all red.
  VdRect quarter{0, 0, 8, 8};
  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, &quarter, nullptr, 1));
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  if (visible) {
    for (const POINT& at : {POINT{2, 2}, POINT{60, 60}, POINT{60, 2}})
      EXPECT_TRUE(isRed(pixelAt(at.x, at.y))) << at.x << "," << at.y;
  }
  ASSERT_TRUE(VdPlay_SetColor(0, 0, 64, 64, 0, 64));  // no saturation: grey
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  if (visible) {
    const COLORREF c = pixelAt(32, 32);
    EXPECT_EQ(GetRValue(c) * 256 + GetGValue(c), GetBValue(c) * 257);
  }
  DestroyWindow(wnd);  // painting stops; decoding and callbacks go on
  ASSERT_TRUE(Feed(0, vdstream::makePacket(red.data(), red.size(), 0, Payload::Raw)));
  EXPECT_TRUE(WaitFor([] { return FrameLogOf(0).count == 2; }));
  EXPECT_TRUE(VdPlay_RefreshPlay(0));
}
