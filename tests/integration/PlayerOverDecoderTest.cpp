// The player driving the real VdPlay library through the public interface:
// snapshots, single-frame stepping, a full buffer and the play speeds.
#include "support/Bitmaps.h"
#include "support/PlayerOverDecoderFixture.h"
#include "support/Waiting.h"

namespace sp_test {
namespace {

// The test pattern's colours as 8-bit RGB: the eight bars (white, yellow,
// cyan, green, magenta, red, blue, black) and the white square.
constexpr std::uint8_t kBarRgb[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                        {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                        {0, 0, 255},     {0, 0, 0}};

bool Near(const std::uint8_t* px, const std::uint8_t (&want)[3], int tolerance = 3) {
  for (int ch = 0; ch < 3; ++ch) {
    if (std::abs(px[ch] - want[ch]) > tolerance) return false;
  }
  return true;
}

using PlayerSnapshot = PlayerOverDecoder;
using PlayerStepping = PlayerOverDecoder;
using PlayerBuffer = PlayerOverDecoder;
using PlayerSpeed = PlayerOverDecoder;

TEST_F(PlayerSnapshot, IsTheFrameOnScreenWithThePatternsColours) {
  Init(0);
  const std::uint32_t w = 352, h = 288;
  const TestStream s = MakeTestStream(w, h, 40, vdstream::Payload::Zlib, 25);
  Open(s);
  for (const Bytes& packet : s.packets) ASSERT_EQ(Input(packet), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 3; }));

  const std::string path = TempFile("shot.bmp");
  const std::uint32_t before = Shown();
  ASSERT_EQ(player->Play_GetPicture(kPort, path.c_str()), SP_OK);
  SleepMs(5);  // the counter moves just after the callback returns
  const std::uint32_t after = Shown();

  Bitmap bmp;
  ASSERT_TRUE(ReadBitmap(path, bmp));
  ASSERT_EQ(bmp.width, 352);
  ASSERT_EQ(bmp.height, 288);
  // The captured frame is the one on screen when the call began (or, if a
  // new one came in the same instant, that one).
  int frame = -1;
  for (std::uint32_t i = before - 1; i <= after && i < s.pictures.size(); ++i) {
    if (Distance(bmp, s.pictures[i]) <= 2) frame = static_cast<int>(i);
  }
  ASSERT_GE(frame, 0) << "no frame from " << before - 1 << " to " << after << " matches";

  // Known pixels: the bars have moved by frame / 8 places, the square sits
  // at (4 * frame, 2 * frame) with a side of a quarter of the height.
  const int side = static_cast<int>(h) / 4;
  const int squareX = (4 * frame) % (static_cast<int>(w) - side);
  const int squareY = (2 * frame) % (static_cast<int>(h) - side);
  const int row = squareY > 10 ? 5 : static_cast<int>(h) - 5;  // a row the square leaves free
  for (int bar = 0; bar < 8; ++bar) {
    const int x = bar * 44 + 22;
    const int colour = (bar + frame / 8) % 8;
    EXPECT_TRUE(Near(bmp.At(x, row), kBarRgb[colour])) << "bar " << bar << " of frame " << frame;
  }
  EXPECT_TRUE(Near(bmp.At(squareX + side / 2, squareY + side / 2), kBarRgb[0]));
  // The square never reaches the bottom-right pixel, which shows the last bar.
  EXPECT_TRUE(Near(bmp.At(351, 287), kBarRgb[(7 + frame / 8) % 8]));
}

TEST_F(PlayerStepping, AdmitsOneBlockAndShowsOneFramePerRequest) {
  Init(0);
  const TestStream s = MakeTestStream(32, 32, 12, vdstream::Payload::Zlib, 25);
  Open(s);
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  std::size_t next = 0;
  for (; next < 4; ++next) ASSERT_EQ(Input(s.packets[next]), SP_OK);
  SleepMs(100);
  ASSERT_EQ(Shown(), 0u) << "paused before any frame";

  // The first request shows a frame and lets no data in.
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_ONE_BY_ONE), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() == 1; }));
  EXPECT_EQ(Input(s.packets[next]), SP_ERR_STEPPING);
  // Each further request shows one more frame and lets one block in.
  for (std::uint32_t step = 2; step <= 4; ++step) {
    ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_ONE_BY_ONE), SP_OK);
    ASSERT_TRUE(WaitFor([&] { return Shown() == step; })) << "step " << step;
    EXPECT_EQ(Input(s.packets[next]), SP_OK) << "step " << step;
    ++next;
    EXPECT_EQ(Input(s.packets[next]), SP_ERR_STEPPING) << "step " << step;
  }
  SleepMs(150);
  EXPECT_EQ(Shown(), 4u) << "no frame without a request";
  std::int32_t state = 0;
  EXPECT_EQ(player->Play_GetPlayState(kPort, &state), SP_OK);
  EXPECT_EQ(state, PLAYSTATE_ONE_BY_ONE);
  EXPECT_EQ(OpenStreamStats().stepping, 1u);

  // Normal play takes data freely again and plays the rest.
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PLAY), SP_OK);
  for (; next < s.packets.size(); ++next) EXPECT_EQ(Input(s.packets[next]), SP_OK);
  EXPECT_TRUE(WaitFor([&] { return Shown() == s.packets.size(); }));
}

TEST_F(PlayerBuffer, FullBufferIsRefusedAfterTenTriesAndLogged) {
  Init(2);  // every refused try is logged at this level
  const TestStream s = MakeTestStream(352, 288, 4, vdstream::Payload::Raw, 25);
  Open(s);
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  // Three raw CIF packets fill 456240 of the 512000 bytes; a fourth does not fit.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Input(s.packets[i]), SP_OK);

  const auto start = Clock::now();
  EXPECT_EQ(Input(s.packets[3]), SP_ERR_STEPPING);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(seconds, 0.9) << "ten tries 100 ms apart";
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(OpenStreamStats().bytesWaiting, 3 * s.packets[0].size()) << "the block was dropped";

  const std::string bufferFull =
      "\xbb\xba\xb3\xe5\xc7\xf8\xc2\xfa\xa3\xac\xca\xe4\xc8\xeb\xc1\xf7\xca\xa7\xb0\xdc";
  int refusals = 0;
  for (const auto& error : ErrorRecords()) {
    if (error.context != "VdPlay_InputData()") continue;
    ++refusals;
    EXPECT_EQ(error.code, 11);
    EXPECT_EQ(error.message, bufferFull);
  }
  EXPECT_EQ(refusals, 10);
}

TEST_F(PlayerSpeed, FramesPerSecondFollowTheState) {
  Init(0);
  const TestStream s = MakeTestStream(64, 48, 240, vdstream::Payload::Zlib, 25);
  Open(s);
  for (const Bytes& packet : s.packets) ASSERT_EQ(Input(packet), SP_OK);

  // Frames shown per second over a window in each state.
  auto rateIn = [&](std::int32_t state, int ms) {
    EXPECT_EQ(player->Play_PlayState(kPort, state), SP_OK);
    const std::uint32_t first = Shown();
    const auto start = Clock::now();
    SleepMs(ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return (Shown() - first) / seconds;
  };
  SleepMs(100);  // let normal play settle
  const double normal = rateIn(PLAYSTATE_PLAY, 300);
  const double fast = rateIn(PLAYSTATE_FAST2, 300);
  const double slow = rateIn(PLAYSTATE_SLOW2, 640);
  const double paused = rateIn(PLAYSTATE_PAUSE, 250);
  const double again = rateIn(PLAYSTATE_FAST1, 300);

  // Nominal: 25, 100, 6.25, 0 and 50 frames per second.
  EXPECT_GT(normal, 10);
  EXPECT_LT(normal, 45);
  EXPECT_GT(fast, 2 * normal);
  EXPECT_LT(slow, 0.6 * normal);
  EXPECT_GT(slow, 0);
  EXPECT_LE(paused * 0.25, 1.01) << "at most a frame already on its way";
  EXPECT_GT(again, 1.3 * normal) << "fast 1 after a pause";
  EXPECT_LT(again, fast);
}

}  // namespace
}  // namespace sp_test
