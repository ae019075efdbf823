// Captures on one thread while the decoder's display thread shows frames and
// a third thread releases the player in the middle of a capture.
//
// The fake decoder shows a frame every 2 ms on every port that has a display
// callback. Each round the capture thread makes a few captures and then a
// last one; the releasing thread waits until that last capture has installed
// its callback (it is then inside Play_GetPicture, and the host starts no
// other) and releases the player after a varying delay: while frames flow,
// while the capture waits for a frame that does not come, or just as frames
// start again. Releasing must wait
// for the capture; the capture ends with a picture or with 26 and its record,
// and no record is lost or broken.
#include <gtest/gtest.h>

#include <SinglePlayer.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "FakeVdPlay.h"
#include "support/GbkTexts.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 40;
constexpr int kCapturesBeforeRelease = 6;
constexpr std::int32_t kPort = 3;

TEST(CaptureReleaseStress, ReleaseDuringCaptureWhileFramesAreShown) {
  sp_test::Sandbox sandbox;
  sandbox.Configure(1);
  std::uint8_t header[40] = {};

  int captures = 0;
  int pictures = 0;
  int timeouts = 0;
  for (int round = 0; round < kRounds; ++round) {
    fake_vdplay::Reset();
    ISinglePlayer* player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Play_Init(0), SP_OK);
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
    ASSERT_EQ(player->Play_OpenStream(nullptr, kPort, header, sizeof header, 0), SP_OK);
    fake_vdplay::StartAutoDisplay(2);

    std::vector<std::string> paths;
    for (int i = 0; i <= kCapturesBeforeRelease; ++i) {
      paths.push_back(sandbox.File("round" + std::to_string(round) + "_" + std::to_string(i) +
                                   ".bmp"));
    }
    std::vector<std::int32_t> results(paths.size(), -100);
    std::atomic<int> callbackCallsBefore{-1};

    std::thread capturer([&] {
      for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i + 1 == paths.size()) {
          // The last capture: in two rounds of three no frame comes until the
          // release, so that the release meets the capture while it waits.
          if (round % 3 != 0) fake_vdplay::StopAutoDisplay();
          // Tell the releasing thread how many installs and removals came
          // before it.
          callbackCallsBefore = static_cast<int>(
              fake_vdplay::CountCalls("VdPlay_SetDisplayCallBack"));
        }
        results[i] = player->Play_GetPicture(kPort, paths[i].c_str());
      }
    });
    std::thread releaser([&] {
      while (callbackCallsBefore.load() < 0) std::this_thread::yield();
      const int installed = callbackCallsBefore.load() + 1;
      while (static_cast<int>(fake_vdplay::CountCalls("VdPlay_SetDisplayCallBack")) < installed) {
        std::this_thread::yield();
      }
      // Somewhere inside the capture's 50 ms wait.
      std::this_thread::sleep_for(std::chrono::milliseconds((round * 7) % 45));
      // Frames again, racing the release, in every third round.
      if (round % 3 == 2) fake_vdplay::StartAutoDisplay(1);
      ReleaseSinglePlayerDll(player);
    });
    releaser.join();
    capturer.join();
    fake_vdplay::StopAutoDisplay();

    // A new player is a fresh one: the released one is gone.
    ISinglePlayer* next = CreateSinglePlayerDll();
    std::int32_t state = -1;
    EXPECT_EQ(next->Play_GetPlayState(kPort, &state), SP_OK);
    EXPECT_EQ(state, PLAYSTATE_NOT_STARTED);
    ReleaseSinglePlayerDll(next);

    for (std::size_t i = 0; i < paths.size(); ++i) {
      ++captures;
      ASSERT_TRUE(results[i] == SP_OK || results[i] == SP_ERR_DECODER_UNKNOWN)
          << "round " << round << " capture " << i << " gave " << results[i];
      // A picture exactly when the capture says so.
      EXPECT_EQ(sp_test::Exists(paths[i]), results[i] == SP_OK) << paths[i];
      if (results[i] == SP_OK) ++pictures;
      if (results[i] == SP_ERR_DECODER_UNKNOWN) ++timeouts;
    }
  }
  fake_vdplay::Reset();

  // Frames did arrive; most captures got one.
  EXPECT_GT(pictures, captures / 2);
  // Every capture left its trace record, every timeout its error record, and
  // the only other records are frames that came when no capture was pending.
  int traces = 0;
  for (const sp_test::LogRecord& record : sp_test::ReadWholeRecords(sandbox.RuntimeLog())) {
    if (record.value[0] == "Play_GetPicture") ++traces;
  }
  EXPECT_EQ(traces, captures);
  int timeoutRecords = 0;
  for (const sp_test::ErrorRecord& error : sp_test::ReadErrorRecords(sandbox.ErrorLog())) {
    EXPECT_EQ(error.code, 0);
    if (error.message == sp_test::gbk::kCaptureTimeout) {
      ++timeoutRecords;
    } else {
      EXPECT_EQ(error.message, sp_test::gbk::kPathNotSet);
    }
  }
  EXPECT_EQ(timeoutRecords, timeouts);
  std::printf("[ figures  ] %d rounds, %d captures: %d pictures, %d timed out; %d trace and "
              "%d timeout records verified\n",
              kRounds, captures, pictures, timeouts, traces, timeoutRecords);
}

}  // namespace
