// Snapshots of the picture on screen through the player and the real VdPlay:
// while paused, while stepping, on a slow stream, and none before the first
// picture or after the buffer was cleared.
#include "support/Bitmaps.h"
#include "support/PlayerOverDecoderFixture.h"
#include "support/Waiting.h"

namespace sp_test {
namespace {

constexpr std::int32_t kTimedOut = 26;  // Play_GetPicture when no picture reached the callback

class PlayerSnapshotOnScreen : public PlayerOverDecoder {
 protected:
  // Takes a snapshot and returns the index of the stream's picture it shows,
  // or -1 when it matches none; result gets Play_GetPicture's result.
  int Snapshot(const TestStream& s, const std::string& name, std::int32_t& result) {
    const std::string path = TempFile(name);
    result = player->Play_GetPicture(kPort, path.c_str());
    if (result != SP_OK) return -1;
    Bitmap bmp;
    if (!ReadBitmap(path, bmp)) return -1;
    for (std::size_t i = 0; i < s.pictures.size(); ++i) {
      if (Distance(bmp, s.pictures[i]) <= 2) return static_cast<int>(i);
    }
    return -1;
  }

  // Waits until the shown count has stayed the same for 150 ms.
  std::uint32_t SettledShown() {
    std::uint32_t last = Shown();
    for (;;) {
      SleepMs(150);
      const std::uint32_t now = Shown();
      if (now == last) return now;
      last = now;
    }
  }
};

TEST_F(PlayerSnapshotOnScreen, WhilePausedIsTheLastPictureShown) {
  Init(0);
  const TestStream s = MakeTestStream(64, 48, 60, vdstream::Payload::Zlib, 25);
  Open(s);
  for (const Bytes& packet : s.packets) ASSERT_EQ(Input(packet), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 5; }));
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  const std::uint32_t shown = SettledShown();

  for (int attempt = 0; attempt < 3; ++attempt) {
    std::int32_t result = -1;
    EXPECT_EQ(Snapshot(s, "paused.bmp", result), static_cast<int>(shown) - 1);
    EXPECT_EQ(result, SP_OK) << "handed over within the player's wait";
  }
  EXPECT_EQ(Shown(), shown) << "a snapshot shows no new picture";
}

TEST_F(PlayerSnapshotOnScreen, WhileSteppingIsTheLastSteppedPicture) {
  Init(0);
  const TestStream s = MakeTestStream(64, 48, 12, vdstream::Payload::Raw, 25);
  Open(s);
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  for (std::size_t i = 0; i < 4; ++i) ASSERT_EQ(Input(s.packets[i]), SP_OK);
  for (std::uint32_t step = 1; step <= 3; ++step) {
    ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_ONE_BY_ONE), SP_OK);
    ASSERT_TRUE(WaitFor([&] { return Shown() == step; }));
    std::int32_t result = -1;
    EXPECT_EQ(Snapshot(s, "step.bmp", result), static_cast<int>(step) - 1) << "step " << step;
    EXPECT_EQ(result, SP_OK);
  }
  EXPECT_EQ(Shown(), 3u);
}

TEST_F(PlayerSnapshotOnScreen, OfASlowStreamSucceedsEveryTime) {
  Init(0);
  const TestStream s = MakeTestStream(64, 48, 30, vdstream::Payload::Zlib, 5);
  Open(s);
  for (const Bytes& packet : s.packets) ASSERT_EQ(Input(packet), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 1; }));
  for (int i = 0; i < 5; ++i) {
    std::int32_t result = -1;
    EXPECT_GE(Snapshot(s, "slow.bmp", result), 0);
    EXPECT_EQ(result, SP_OK) << "capture " << i;
    SleepMs(37);  // somewhere else in the 200 ms between pictures
  }
}

TEST_F(PlayerSnapshotOnScreen, BeforeAnyPictureAndAfterClearingTheBufferTimesOut) {
  Init(0);
  const TestStream s = MakeTestStream(64, 48, 20, vdstream::Payload::Raw, 25);
  Open(s);
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  for (std::size_t i = 0; i < 10; ++i) ASSERT_EQ(Input(s.packets[i]), SP_OK);
  std::int32_t result = -1;
  EXPECT_EQ(Snapshot(s, "none.bmp", result), -1);
  EXPECT_EQ(result, kTimedOut) << "paused before the first picture";

  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PLAY), SP_OK);
  ASSERT_TRUE(WaitFor([&] { return Shown() >= 3; }));
  ASSERT_EQ(player->Play_PlayState(kPort, PLAYSTATE_PAUSE), SP_OK);
  SettledShown();
  EXPECT_GE(Snapshot(s, "held.bmp", result), 0);
  ASSERT_EQ(player->Play_ClearBuffer(kPort), SP_OK);
  EXPECT_EQ(Snapshot(s, "cleared.bmp", result), -1);
  EXPECT_EQ(result, kTimedOut) << "the cleared buffer took the picture on display with it";
}

}  // namespace
}  // namespace sp_test
