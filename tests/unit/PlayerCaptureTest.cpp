// Picture capture through the decoder's display callback, alone and with the
// decoder's display thread and a release running at the same time.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/PlayerTestFixture.h"

namespace sp_test {
namespace {

using fake_vdplay::CallNames;
using fake_vdplay::CountCalls;
using fake_vdplay::FailCalls;

class CaptureTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Init(1);
    Playing(9);  // decoder port 0
    Playing(5);  // decoder port 1
  }
  std::size_t CountErrors(const std::string& message) const {
    std::size_t count = 0;
    for (const auto& error : Errors()) count += error.message == message ? 1 : 0;
    return count;
  }
};

TEST_F(CaptureTest, AFrameFromTheDisplayThreadIsWrittenAtExactlyTheHostsPath) {
  fake_vdplay::StartAutoDisplay(5);
  const std::string path = dir.File("still 1");  // no extension is added
  EXPECT_EQ(player->Play_GetPicture(5, path.c_str()), SP_OK);
  fake_vdplay::StopAutoDisplay();
  EXPECT_EQ(sp_test::ReadFile(path).rfind("FAKE 16x8 type 3", 0), 0u);
  EXPECT_FALSE(sp_test::Exists(path + ".bmp"));
  EXPECT_EQ(Impl().CapturePath(), "");
  const std::vector<fake_vdplay::Call> calls = fake_vdplay::Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().function, "VdPlay_SetDisplayCallBack");
  EXPECT_EQ(calls.front().args[0], 1);
  EXPECT_NE(calls.front().args[1], 0);
  EXPECT_EQ(calls.back().function, "VdPlay_SetDisplayCallBack");
  EXPECT_EQ(calls.back().args, Args({1, 0}));
  const Args convert = OnlyCallArgs("VdPLay_ConvertToBmpFile");
  ASSERT_EQ(convert.size(), 5u);
  EXPECT_EQ(Args(convert.begin() + 2, convert.end()),
            Args({fake_vdplay::kFrameWidth, fake_vdplay::kFrameHeight, fake_vdplay::kFrameType}));
  for (const auto& error : Errors()) EXPECT_EQ(error.message, gbk::kPathNotSet);
}

TEST_F(CaptureTest, NoFrameWithinTheWaitTimesOutAndLeavesNoPathBehind) {
  const std::string path = dir.File("none.bmp");
  EXPECT_EQ(player->Play_GetPicture(9, path.c_str()), 26);
  ExpectOnlyError(0, gbk::kCaptureTimeout);
  EXPECT_EQ(Impl().CapturePath(), "");
  EXPECT_FALSE(sp_test::Exists(path));
  EXPECT_EQ(CallNames(), Names({"VdPlay_SetDisplayCallBack", "VdPlay_SetDisplayCallBack"}));
  EXPECT_FALSE(fake_vdplay::DisplayFrame(0));  // the callback was removed
}

TEST_F(CaptureTest, ASecondFrameFindsThePathUsed) {
  fake_vdplay::SetFramesOnInstall(2);
  const std::string path = dir.File("two.bmp");
  EXPECT_EQ(player->Play_GetPicture(9, path.c_str()), SP_OK);
  EXPECT_TRUE(sp_test::Exists(path));
  EXPECT_EQ(CountCalls("VdPLay_ConvertToBmpFile"), 1u);
  ExpectOnlyError(0, gbk::kPathNotSet);
}

TEST_F(CaptureTest, AFailedConversionIsReportedForTheDecoderPortTheCallbackReceived) {
  fake_vdplay::SetFramesOnInstall(1);
  FailCalls("VdPLay_ConvertToBmpFile", 7, 1);
  // Host port 5 has decoder port 1; host port 1 has none.
  EXPECT_EQ(player->Play_GetPicture(5, dir.File("bad.bmp").c_str()), 8);
  ExpectOnlyError(7, "\xce\xc4\xbc\xfe\xb2\xd9\xd7\xf7\xca\xa7\xb0\xdc", "VdPLay_ConvertToBmpFile()");
  EXPECT_EQ(OnlyCallArgs("VdPlay_GetLastError"), Args({1}));
  EXPECT_EQ(Impl().CapturePath(), "");
}

TEST_F(CaptureTest, DecoderRefusingTheCallbackIsReported) {
  FailCalls("VdPlay_SetDisplayCallBack", 2, 1);
  EXPECT_EQ(player->Play_GetPicture(9, dir.File("x.bmp").c_str()), 3);
  ExpectOnlyError(2, gbk::kWrongOrder, "VdPlay_SetDisplayCallBack()");
  EXPECT_EQ(CallNames(), Names({"VdPlay_SetDisplayCallBack", "VdPlay_GetLastError"}));

  // Failing to remove it: the file is written, the removal failure returned.
  Forget();
  fake_vdplay::SetFramesOnInstall(1);
  FailCalls("VdPlay_SetDisplayCallBack", 8, 1, 1);
  EXPECT_EQ(player->Play_GetPicture(9, dir.File("y.bmp").c_str()), 9);
  ExpectOnlyError(8, "\xb4\xb4\xbd\xa8\xcf\xdf\xb3\xcc\xca\xc2\xbc\xfe\xb5\xc8\xca\xa7\xb0\xdc",
                  "VdPlay_SetDisplayCallBack()");
  EXPECT_TRUE(sp_test::Exists(dir.File("y.bmp")));
}

TEST_F(CaptureTest, BadPortsInstallNoCallbackAndKeepNoPath) {
  EXPECT_EQ(player->Play_GetPicture(128, "a.bmp"), SP_ERR_PARAM);
  ExpectOnlyError(0, gbk::kBadArgument);
  Forget();
  EXPECT_EQ(player->Play_GetPicture(60, "a.bmp"), SP_ERR_PARAM);
  ExpectOnlyError(1, gbk::kInvalidInput, "Play_CloseStream()");
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(Impl().CapturePath(), "");
}

// Captures on this thread while the decoder's display thread shows frames on
// both ports: every capture writes its own file, and every frame shown is
// accounted for by a conversion or a "path not set" record.
TEST_F(CaptureTest, CapturesRaceTheDisplayThreadWithoutLosingRecords) {
  constexpr int kCaptures = 20;
  fake_vdplay::StartAutoDisplay(1);
  int written = 0, timedOut = 0;
  for (int i = 0; i < kCaptures; ++i) {
    const std::string path = dir.File("race" + std::to_string(i) + ".bmp");
    const int32_t result = player->Play_GetPicture(i % 2 == 0 ? 9 : 5, path.c_str());
    ASSERT_TRUE(result == SP_OK || result == 26) << result;
    EXPECT_EQ(sp_test::Exists(path), result == SP_OK);
    (result == SP_OK ? written : timedOut) += 1;
  }
  fake_vdplay::StopAutoDisplay();
  EXPECT_GT(written, kCaptures / 2);
  EXPECT_EQ(CountErrors(gbk::kCaptureTimeout), static_cast<std::size_t>(timedOut));
  EXPECT_EQ(static_cast<std::size_t>(fake_vdplay::DisplayedFrames()),
            CountCalls("VdPLay_ConvertToBmpFile") + CountErrors(gbk::kPathNotSet));
  EXPECT_EQ(Errors().size(), CountErrors(gbk::kCaptureTimeout) + CountErrors(gbk::kPathNotSet));
  EXPECT_EQ(Traces().size(), static_cast<std::size_t>(kCaptures));
}

// Another thread releases the player while a capture waits for its frame:
// the release waits for the capture, which finishes and writes its record.
TEST_F(CaptureTest, ReleaseDuringACaptureIsSafe) {
  int finished = 0;
  for (int round = 0; round < 10; ++round) {
    if (round > 0) {
      player = CreateSinglePlayerDll();
      ASSERT_NE(player, nullptr);
      Init(1);
      Playing(9);
    }
    const bool withFrames = round % 2 == 1;
    if (withFrames) fake_vdplay::StartAutoDisplay(1);
    const std::size_t installsBefore = CountCalls("VdPlay_SetDisplayCallBack");
    std::atomic<int32_t> result{-100};
    const std::string path = dir.File("release" + std::to_string(round) + ".bmp");
    std::thread capture([&] { result = player->Play_GetPicture(9, path.c_str()); });
    while (CountCalls("VdPlay_SetDisplayCallBack") == installsBefore) std::this_thread::yield();
    ReleaseSinglePlayerDll(player);  // returns only once the capture is done with the player
    capture.join();
    fake_vdplay::StopAutoDisplay();
    player = nullptr;
    ASSERT_TRUE(result == SP_OK || result == 26) << result;
    EXPECT_EQ(sp_test::Exists(path), result == SP_OK);
    EXPECT_EQ(CountErrors(gbk::kCaptureTimeout), result == 26 ? 1u : 0u);
    ++finished;
    Forget();
  }
  EXPECT_EQ(finished, 10);
}

TEST_F(CaptureTest, ACallbackLeftInstalledDoesNothingOnceThePlayerIsReleased) {
  FailCalls("VdPlay_SetDisplayCallBack", 8, 1, 1);  // the removal fails
  EXPECT_EQ(player->Play_GetPicture(9, dir.File("late.bmp").c_str()), 9);
  const std::size_t records = Errors().size();
  ReleaseSinglePlayerDll(player);
  player = nullptr;
  EXPECT_TRUE(fake_vdplay::DisplayFrame(0));
  EXPECT_EQ(Errors().size(), records);
  EXPECT_EQ(CountCalls("VdPLay_ConvertToBmpFile"), 0u);
}

#if !defined(_WIN32)
// A conversion held up on one port (its file is a pipe that nobody reads
// yet): a capture on another port and the factory go on meanwhile, and a
// release waits until the held capture has ended.
TEST_F(CaptureTest, ACaptureHeldUpOnOnePortHoldsUpOnlyARelease) {
  using namespace std::chrono_literals;
  fake_vdplay::SetFramesOnInstall(1);  // each capture's frame comes at once, on its own thread
  const std::string pipe = dir.File("held.bmp");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::atomic<int32_t> heldResult{-1};
  std::thread held([&] { heldResult = player->Play_GetPicture(9, pipe.c_str()); });
  for (int i = 0; i < 500 && CountCalls("VdPLay_ConvertToBmpFile") == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(CountCalls("VdPLay_ConvertToBmpFile"), 1u);

  const std::string otherPath = dir.File("other.bmp");
  auto other = std::async(std::launch::async,
                          [&] { return player->Play_GetPicture(5, otherPath.c_str()); });
  const bool otherDone = other.wait_for(5s) == std::future_status::ready;
  auto factory = std::async(std::launch::async, [] { return CreateSinglePlayerDll(); });
  const bool factoryDone = factory.wait_for(5s) == std::future_status::ready;
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    ReleaseSinglePlayerDll(player);
    released = true;
  });
  std::this_thread::sleep_for(200ms);
  const bool releasedEarly = released;

  // Reading the pipe lets the held conversion end.
  const int reader = open(pipe.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  char buffer[256];
  while (read(reader, buffer, sizeof buffer) > 0) {
  }
  close(reader);
  held.join();
  releaser.join();
  EXPECT_TRUE(otherDone) << "a capture on another port waited for the held one";
  EXPECT_EQ(other.get(), SP_OK);
  EXPECT_TRUE(factoryDone) << "the factory waited for a capture";
  EXPECT_EQ(factory.get(), player);
  EXPECT_FALSE(releasedEarly) << "the release did not wait for the capture in progress";
  EXPECT_EQ(heldResult.load(), SP_OK);
  EXPECT_EQ(sp_test::ReadFile(otherPath).rfind("FAKE", 0), 0u);
  player = nullptr;  // released above
}
#endif

}  // namespace
}  // namespace sp_test
