// Rules of the operations that the other tests leave open, grouped by
// operation: each test fails when its rule is broken.
#include <chrono>
#include <ctime>
#include <fstream>

#include "support/PlayerTestFixture.h"

namespace sp_test {
namespace {

using fake_vdplay::CallNames;
using fake_vdplay::CountCalls;
using fake_vdplay::FailCalls;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class RulesTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Init(0);
  }
};

// --- Play_InputData --------------------------------------------------------

TEST_F(RulesTest, TenRefusalsWhileSteppingPauseTenTimesReportTheLastCodeAndClearThePermit) {
  Playing(3);
  ASSERT_EQ(player->Play_PlayState(3, PLAYSTATE_ONE_BY_ONE), SP_OK);
  ASSERT_EQ(player->Play_PlayState(3, PLAYSTATE_ONE_BY_ONE), SP_OK);
  ASSERT_EQ(Impl().Port(3).stepInputPermit, 1);
  fake_vdplay::FailCallsWithCodes("VdPlay_InputData", {11, 11, 11, 11, 11, 11, 11, 11, 11, 4});
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(player->Play_InputData(3, data, sizeof data, 0), 5);  // code 4, the last one
  EXPECT_GE(ElapsedMs(start), 990) << "a pause follows the tenth refusal too";
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 10u);
  EXPECT_EQ(Impl().Port(3).stepInputPermit, 0);
  EXPECT_EQ(player->Play_InputData(3, data, sizeof data, 0), SP_ERR_STEPPING);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 10u);
}

TEST_F(RulesTest, RefusalsThenSuccessBelowLevelTwoReturnZeroWithNoRecord) {
  Recreate(1);
  Playing(3);
  FailCalls("VdPlay_InputData", 11, 2);
  EXPECT_EQ(player->Play_InputData(3, data, sizeof data, 0), SP_OK);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 3u);
  EXPECT_TRUE(Errors().empty());
}

// --- Play_PlayState --------------------------------------------------------

TEST_F(RulesTest, SteppingNeedsAStartedPortAndSetsThePermitBeforeTheDecoderCall) {
  ASSERT_EQ(player->Play_SetOpenMode(3, 0), SP_OK);
  Forget();
  EXPECT_EQ(player->Play_PlayState(3, PLAYSTATE_ONE_BY_ONE), SP_ERR_ORDER);
  EXPECT_EQ(Impl().Port(3).playState, PLAYSTATE_NOT_STARTED);
  EXPECT_TRUE(CallNames().empty());
  ExpectOnlyError(0, gbk::kCannotChangeUnstarted);

  Playing(3);
  FailCalls("VdPlay_OneByOne", 5, 1);
  EXPECT_EQ(player->Play_PlayState(3, PLAYSTATE_ONE_BY_ONE), 6);
  EXPECT_EQ(Impl().Port(3).playState, PLAYSTATE_ONE_BY_ONE);
  EXPECT_EQ(Impl().Port(3).stepInputPermit, 0);
  FailCalls("VdPlay_OneByOne", 5, 1);
  EXPECT_EQ(player->Play_PlayState(3, PLAYSTATE_ONE_BY_ONE), 6);
  EXPECT_EQ(Impl().Port(3).stepInputPermit, 1);
}

// --- Play_OpenStream -------------------------------------------------------

TEST_F(RulesTest, ABadHeaderOnAPlayingPortLeavesTheStreamOpen) {
  Playing(3);
  EXPECT_EQ(player->Play_OpenStream(Window(9), 3, nullptr, 4, 0), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_OpenStream(Window(9), 3, header, 0, 0), SP_ERR_PARAM);
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(Impl().Port(3).playState, PLAYSTATE_PLAY);
}

TEST_F(RulesTest, AFailedPlayIsReportedEvenWhenClosingTheNewStreamFailsToo) {
  ASSERT_EQ(player->Play_SetOpenMode(3, 0), SP_OK);
  Forget();
  FailCalls("VdPlay_Play", 4, 1);
  FailCalls("VdPlay_CloseStream", 7, 1);
  EXPECT_EQ(player->Play_OpenStream(Window(9), 3, header, sizeof header, 0), 5);
  ExpectOnlyError(4, "\xca\xd3\xc6\xb5\xbd\xe2\xc2\xeb\xca\xa7\xb0\xdc", "VdPlay_Play()");  // 视频解码失败
  EXPECT_EQ(Impl().Port(3).playState, PLAYSTATE_NOT_STARTED);
}

TEST_F(RulesTest, SpeedChangesAfterAReopenPlayIntoTheNewWindow) {
  Playing(3, Window(0x1111));
  ASSERT_EQ(player->Play_OpenStream(Window(0x2222), 3, header, sizeof header, 0), SP_OK);
  Forget();
  ASSERT_EQ(player->Play_PlayState(3, PLAYSTATE_FAST1), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_Play"), Args({0, 0x2222}));
}

// --- Settings --------------------------------------------------------------

TEST_F(RulesTest, FailedSettingsKeepTheCacheAndPassTheRightValues) {
  Playing(3);
  SP_VIDEO_PARA para = {7, 60, 70, 80, 90, 9};
  ASSERT_EQ(player->Play_SetVideoPara(3, &para, 0), SP_OK);
  // Restoring defaults: the caller's record is rewritten even when the
  // decoder refuses; elements 0 and 5 and the cache stay.
  FailCalls("VdPlay_SetColor", 3, 1);
  EXPECT_EQ(player->Play_SetVideoPara(3, &para, 1), 4);
  EXPECT_EQ(Args({para.reserved0, para.brightness, para.contrast, para.saturation, para.hue,
                  para.reserved5}),
            Args({7, 50, 50, 50, 50, 9}));
  SP_VIDEO_PARA cached = {};
  ASSERT_EQ(player->Play_GetVideoPara(3, &cached), SP_OK);
  EXPECT_EQ(Args({cached.brightness, cached.contrast, cached.saturation, cached.hue}),
            Args({60, 70, 80, 90}));

  ASSERT_EQ(player->Play_SetVolume(3, 40), SP_OK);
  FailCalls("VdPlay_StopSound", 13, 1);
  EXPECT_EQ(player->Play_SetVolume(3, 0), 14);
  std::int32_t volume = -1;
  ASSERT_EQ(player->Play_GetVolume(3, &volume), SP_OK);
  EXPECT_EQ(volume, 40);

  std::int32_t width = 0, height = 0;
  ASSERT_EQ(player->Play_GetPictureSize(3, &width, &height), SP_OK);
  Forget();
  SP_RECT rect = {0, 0, 10, 10};
  EXPECT_EQ(player->Play_SetDispRegion(3, 7, &rect), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetDisplayRegion").back(), 1);

  // A port without a decoder port: the outputs stay as they were.
  width = height = -5;
  EXPECT_EQ(player->Play_GetPictureSize(99, &width, &height), SP_ERR_PARAM);
  EXPECT_EQ(Args({width, height}), Args({-5, -5}));
}

// --- Play_GetPicture -------------------------------------------------------

TEST_F(RulesTest, CaptureReturnsOnceTheFrameIsWrittenAndFailedInstallsDoNotWait) {
  Playing(3);
  fake_vdplay::SetFramesOnInstall(1);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(player->Play_GetPicture(3, "shot.bmp"), SP_OK);
  EXPECT_LT(ElapsedMs(start), 25) << "a written frame ends the wait";

  FailCalls("VdPlay_SetDisplayCallBack", 8, 1);
  start = Clock::now();
  EXPECT_EQ(player->Play_GetPicture(3, "shot.bmp"), 9);
  EXPECT_LT(ElapsedMs(start), 25) << "no callback, no wait";
  EXPECT_EQ(Impl().CapturePath(), "");
}

TEST_F(RulesTest, CaptureTimeoutWithAFailedRemovalReportsTheRemoval) {
  Playing(3);
  FailCalls("VdPlay_SetDisplayCallBack", 9, 1, 1);  // the install works, the removal fails
  EXPECT_EQ(player->Play_GetPicture(3, "shot.bmp"), 10);
  const std::vector<sp_test::ErrorRecord> errors = Errors();
  ASSERT_EQ(errors.size(), 2u);
  ExpectError(errors[0], 0, gbk::kCaptureTimeout);
  ExpectError(errors[1], 9, "\xb4\xb4\xbd\xa8" "directDraw\xca\xa7\xb0\xdc",  // 创建directDraw失败
              "VdPlay_SetDisplayCallBack()");
  EXPECT_EQ(Impl().CapturePath(), "");
}

// --- Play_Init and the logs ------------------------------------------------

TEST_F(RulesTest, InitWritesNoRecordAtAnyLevel) {
  for (int level : {0, 1, 2, 3}) {
    Recreate(level);
    Forget();
    EXPECT_EQ(player->Play_Init(0), SP_OK);
    EXPECT_EQ(player->Play_Exit(), SP_OK);
    EXPECT_FALSE(sp_test::Exists(logDir + "Vd_Player_Runtime.log")) << level;
    EXPECT_FALSE(sp_test::Exists(logDir + "Vd_Player_Error.log")) << level;
  }
}

TEST_F(RulesTest, AnEmptyTracePathPutsTheLogsInTheCurrentFolder) {
  WriteConfig("[GLOBAL]\n[TRACE_PATH][]\n[DEBUG_LEVEL][1]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(player->Play_SetOpenMode(-1, 0), SP_ERR_PARAM);
  bool ok = true;
  EXPECT_EQ(sp_test::ReadLogRecords("Vd_Player_Runtime.log", ok).size(), 1u);
  EXPECT_EQ(sp_test::ReadLogRecords("Vd_Player_Error.log", ok).size(), 1u);
  EXPECT_TRUE(ok);
}

TEST_F(RulesTest, TheRealClockGivesLocalTime) {
#if !defined(_WIN32)
  // A zone far from UTC, so that local time and UTC differ in the hour.
  setenv("TZ", "XYZ-9", 1);
  tzset();
#endif
  sp::platform::testing::OverrideClock(nullptr);
  const std::time_t now = std::time(nullptr);
  const sp::platform::LocalTime got = sp::platform::LocalNow();
  const std::tm local = *std::localtime(&now);
#if !defined(_WIN32)
  unsetenv("TZ");
  tzset();
#endif
  // The hour of local time, allowing for a clock that turned the hour in between.
  EXPECT_TRUE(got.hour == local.tm_hour || got.hour == (local.tm_hour + 1) % 24) << got.hour;
  EXPECT_EQ(got.day == local.tm_mday || got.hour == 0, true);
}

// --- Source positions --------------------------------------------------------

// The line of the only statement of the source file that holds the text.
int LineOf(const std::string& file, const std::string& text) {
  std::ifstream in(std::string(SP_SOURCE_DIR) + "/src/player/" + file);
  std::string line;
  int number = 0;
  int found = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.find(text) != std::string::npos) {
      EXPECT_EQ(found, 0) << text << " is on more than one line of " << file;
      found = number;
    }
  }
  return found;
}

TEST_F(RulesTest, OwnErrorRecordsGiveTheLineOfTheReportingStatement) {
  ASSERT_EQ(player->Play_SetOpenMode(3, 0), SP_OK);
  Forget();
  struct Case {
    std::function<std::int32_t()> call;
    const char* file;
    const char* statement;
  };
  const std::vector<Case> cases = {
      {[&] { return player->Play_CloseStream(3); }, "StreamLifecycle.cpp",
       "SP_OUT_OF_ORDER(texts::kTextCannotStopUnstarted)"},
      {[&] { return player->Play_InputData(3, data, sizeof data, 0); }, "StreamLifecycle.cpp",
       "SP_OUT_OF_ORDER(texts::kTextInputToClosedPort)"},
      {[&] { return player->Play_PlayState(3, 1); }, "PlayStateControl.cpp",
       "SP_OUT_OF_ORDER(texts::kTextCannotChangeUnstarted)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), SP_ERR_ORDER);
    const std::vector<sp_test::ErrorRecord> errors = Errors();
    ASSERT_EQ(errors.size(), 1u) << c.statement;
    EXPECT_EQ(errors[0].sourceFile, c.file);
    EXPECT_EQ(errors[0].line, LineOf(c.file, c.statement)) << c.statement;
    Forget();
  }
}

}  // namespace
}  // namespace sp_test
