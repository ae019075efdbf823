// Painting into windows (Windows only).
#include <windows.h>

#include "test_support.h"

using namespace vdtest;

namespace {

class WindowTest : public PortTest {};

// A 16 x 16 stream of pictures of one colour.
TestStream solidStream(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint32_t count) {
  TestStream s = makeStream(16, 16, 0, Payload::Raw, false, 100);
  for (std::uint32_t i = 0; i < count; ++i) {
    Bytes pic(16 * 16, y);
    pic.resize(16 * 16 + 64, u);
    pic.resize(16 * 16 * 3 / 2, v);
    s.packets.push_back(vdstream::makePacket(pic.data(), pic.size(), i * 10, Payload::Raw));
    s.pictures.push_back(std::move(pic));
  }
  return s;
}

}  // namespace

TEST_F(WindowTest, PaintsAndOutlivesTheWindow) {
  // A message-only window exists even where there is no display.
  HWND wnd = CreateWindowExA(0, "STATIC", "vdplay", 0, 0, 0, 64, 64, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
  ASSERT_TRUE(wnd);
  TestStream s = solidStream(81, 90, 240, 100);
  ASSERT_TRUE(openStream(0, s, 104));
  ASSERT_TRUE(feed(0, s.allPackets()));
  VdPlay_SetDisplayCallBack(0, recordFrame);
  ASSERT_TRUE(VdPlay_Play(0, wnd));
  ASSERT_TRUE(VdPlay_SetColor(0, 0, 70, 60, 90, 40));
  VdRect part{4, 4, 12, 10};
  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, &part, nullptr, 1));
  ASSERT_TRUE(waitFor([] { return frameLog(0).count >= 5; }));
  EXPECT_TRUE(VdPlay_RefreshPlay(0));
  DestroyWindow(wnd);
  const int before = frameLog(0).count;
  EXPECT_TRUE(waitFor([&] { return frameLog(0).count >= before + 5; }));
  EXPECT_TRUE(VdPlay_RefreshPlay(0));
}

TEST_F(WindowTest, PaintedPixelsShowTheFrameAndTheSettings) {
  HWND wnd = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "vdplay", WS_POPUP | WS_VISIBLE, 0, 0, 64,
                             64, nullptr, nullptr, nullptr, nullptr);
  if (!wnd) GTEST_SKIP() << "no display for a visible window";
  const auto pixelAt = [wnd](int x, int y) {
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(wnd, dc);
    return c;
  };
  TestStream s = solidStream(81, 90, 240, 3);  // red
  ASSERT_TRUE(openStream(0, s, 8));
  ASSERT_TRUE(feed(0, s.allPackets()));
  VdPlay_SetDisplayCallBack(0, recordFrame);
  ASSERT_TRUE(VdPlay_Play(0, wnd));
  ASSERT_TRUE(waitFor([] { return frameLog(0).count >= 3; }));
  COLORREF c = pixelAt(32, 32);
  EXPECT_GE(GetRValue(c), 250);
  EXPECT_LE(GetGValue(c), 5);
  EXPECT_LE(GetBValue(c), 5);
  ASSERT_TRUE(VdPlay_SetColor(0, 0, 64, 64, 0, 64));  // no saturation: grey
  ASSERT_TRUE(VdPlay_RefreshPlay(0));
  c = pixelAt(32, 32);
  EXPECT_EQ(GetRValue(c), GetGValue(c));
  EXPECT_EQ(GetGValue(c), GetBValue(c));
  // Only the top left quarter of a picture whose other quarters are blue,
  // stretched over the whole window.
  ASSERT_TRUE(VdPlay_SetColor(0, 0, 64, 64, 64, 64));
  Bytes pic(16 * 16 * 3 / 2);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) pic[y * 16 + x] = x < 8 && y < 8 ? 81 : 41;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool red = x < 4 && y < 4;
      pic[256 + y * 8 + x] = red ? 90 : 240;
      pic[320 + y * 8 + x] = red ? 240 : 110;
    }
  }
  VdRect quarter{0, 0, 8, 8};
  ASSERT_TRUE(VdPlay_SetDisplayRegion(0, 0, &quarter, nullptr, 1));
  ASSERT_TRUE(feed(0, vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Raw)));
  ASSERT_TRUE(waitFor([] { return frameLog(0).count >= 4; }));
  for (const POINT& at : {POINT{2, 2}, POINT{60, 60}, POINT{60, 2}}) {
    c = pixelAt(at.x, at.y);
    EXPECT_GE(GetRValue(c), 250) << at.x << "," << at.y;
    EXPECT_LE(GetBValue(c), 5) << at.x << "," << at.y;
  }
  DestroyWindow(wnd);
}
