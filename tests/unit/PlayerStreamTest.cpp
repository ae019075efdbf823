// Stream lifecycle and play-state control of one host port.
#include <chrono>

#include "support/PlayerTestFixture.h"

namespace sp_test {
namespace {

using fake_vdplay::CallNames;
using fake_vdplay::CountCalls;
using fake_vdplay::FailCalls;

class StreamTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Init(1);
  }
  int32_t State(int32_t port) {
    int32_t state = -1;
    EXPECT_EQ(player->Play_GetPlayState(port, &state), SP_OK);
    return state;
  }
};

// --- Set-up and open -----------------------------------------------------

TEST_F(StreamTest, ColourKeyIsSharedButTheOverlayFlagIsPerPort) {
  ASSERT_EQ(player->Play_SetOverlayMode(3, 0x123456), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetOverlayMode"), Args({0, 1, 0x123456}));
  int32_t mode = -1;
  uint32_t key = 0;
  ASSERT_EQ(player->Play_GetPreviewMode(7, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(key, 0x123456u);
  ASSERT_EQ(player->Play_GetPreviewMode(3, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 1);
}

TEST_F(StreamTest, RejectedSetUpKeepsTheDecoderPortAndChangesNothingElse) {
  EXPECT_EQ(player->Play_SetOverlayMode(9, 0x01000000), SP_ERR_PARAM);
  ExpectOnlyError(0, gbk::kBadArgument);
  int32_t mode = -1;
  uint32_t key = 0;
  ASSERT_EQ(player->Play_GetPreviewMode(9, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(key, 0x00FF00FFu);
  EXPECT_EQ(player->Play_SetOverlayMode(9, 0x00FFFFFF), SP_OK);

  ASSERT_EQ(player->Play_SetOpenMode(12, 1), SP_OK);
  EXPECT_EQ(player->Play_SetOpenMode(12, 2), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_SetOpenMode(12, -1), SP_ERR_PARAM);
  // Port 9 kept decoder port 0, so port 12 has 1; its open mode is still 1.
  fake_vdplay::ClearCalls();
  ASSERT_EQ(player->Play_OpenStream(Window(1), 12, header, sizeof header, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_OpenStream"), Args({1, Address(header), 4, 1024000}));
}

TEST_F(StreamTest, SetUpDecoderFailureKeepsTheNewValues) {
  FailCalls("VdPlay_SetOverlayMode", 23);
  EXPECT_EQ(player->Play_SetOverlayMode(4, 0xABCDEF), 24);
  ExpectOnlyError(23, "\xcf\xd4\xca\xbe" "overlay" "\xca\xa7\xb0\xdc", "VdPlay_SetOverlayMode()");
  int32_t mode = -1;
  uint32_t key = 0;
  ASSERT_EQ(player->Play_GetPreviewMode(4, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(key, 0xABCDEFu);

  Forget();
  FailCalls("VdPlay_SetStreamOpenMode", 2);
  EXPECT_EQ(player->Play_SetOpenMode(4, 1), 3);
  ExpectOnlyError(2, gbk::kWrongOrder, "VdPlay_SetStreamOpenMode()");
  EXPECT_EQ(player->Play_OpenStream(Window(1), 4, header, sizeof header, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_OpenStream"), Args({0, Address(header), 4, 1024000}));
}

TEST_F(StreamTest, OpenUsesThePoolOfTheOpenModeAndPlaysIntoTheWindow) {
  ASSERT_EQ(player->Play_SetOverlayMode(20, 0), SP_OK);  // open mode never set: 0
  ASSERT_EQ(player->Play_SetOpenMode(21, 1), SP_OK);
  ASSERT_EQ(player->Play_SetOpenMode(22, 0), SP_OK);
  fake_vdplay::ClearCalls();
  EXPECT_EQ(player->Play_OpenStream(Window(0x77), 20, header, 3, 99), SP_OK);
  EXPECT_EQ(player->Play_OpenStream(Window(0x78), 21, header, 4, 0), SP_OK);
  EXPECT_EQ(player->Play_OpenStream(Window(0x79), 22, header, 4, 0), SP_OK);
  const std::vector<fake_vdplay::Call> calls = fake_vdplay::Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].args, Args({0, Address(header), 3, 512000}));
  EXPECT_EQ(calls[1].args, Args({0, 0x77}));
  EXPECT_EQ(calls[2].args, Args({1, Address(header), 4, 1024000}));
  EXPECT_EQ(calls[4].args, Args({2, Address(header), 4, 512000}));
  EXPECT_EQ(calls[5].function, "VdPlay_Play");
  EXPECT_EQ(State(20), PLAYSTATE_PLAY);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(StreamTest, OpenRejectsAMissingHeaderWithoutTouchingTheDecoder) {
  ASSERT_EQ(player->Play_SetOpenMode(2, 0), SP_OK);
  Forget();
  EXPECT_EQ(player->Play_OpenStream(Window(1), 2, nullptr, 4, 0), SP_ERR_PARAM);
  ExpectOnlyError(0, gbk::kBadArgument);
  EXPECT_EQ(player->Play_OpenStream(Window(1), 2, header, 0, 0), SP_ERR_PARAM);
  EXPECT_EQ(Errors().size(), 2u);
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(State(2), 0);
}

TEST_F(StreamTest, OpenOnAPlayingPortClosesFirstThenOpensTheNewHeader) {
  Playing(6, Window(0x10));
  std::uint8_t second[6] = {};
  EXPECT_EQ(player->Play_OpenStream(Window(0x20), 6, second, sizeof second, 0), SP_OK);
  EXPECT_EQ(CallNames(), Names({"VdPlay_Stop", "VdPlay_CloseStream", "VdPlay_OpenStream",
                                "VdPlay_Play"}));
  EXPECT_EQ(OnlyCallArgs("VdPlay_OpenStream"), Args({0, Address(second), 6, 512000}));
  EXPECT_EQ(OnlyCallArgs("VdPlay_Play"), Args({0, 0x20}));
  ExpectOnlyError(0, gbk::kMustStopFirst);
  // The inner close is the full operation, its own trace record included.
  const std::vector<sp_test::LogRecord> traces = Traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].value[0], "Play_OpenStream");
  EXPECT_EQ(traces[1].value[0], "Play_CloseStream");
  EXPECT_EQ(State(6), PLAYSTATE_PLAY);
}

TEST_F(StreamTest, OpenOnAPlayingPortStopsWhenTheInnerCloseFails) {
  Playing(6);
  FailCalls("VdPlay_Stop", 2, 1);
  EXPECT_EQ(player->Play_OpenStream(Window(1), 6, header, sizeof header, 0), 3);
  const std::vector<sp_test::ErrorRecord> errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  ExpectError(errors[0], 0, gbk::kMustStopFirst);
  ExpectError(errors[1], 2, gbk::kWrongOrder, "VdPlay_Stop()");
  ExpectError(errors[2], 3, "Play_CloseStream() error");
  EXPECT_EQ(CountCalls("VdPlay_OpenStream"), 0u);
  EXPECT_EQ(State(6), PLAYSTATE_PLAY);
}

TEST_F(StreamTest, OpenReportsDecoderFailuresAndClosesAStreamThatDoesNotPlay) {
  ASSERT_EQ(player->Play_SetOpenMode(8, 0), SP_OK);
  Forget();
  FailCalls("VdPlay_OpenStream", 4, 1);
  EXPECT_EQ(player->Play_OpenStream(Window(1), 8, header, sizeof header, 0), 5);
  ExpectOnlyError(4, "\xca\xd3\xc6\xb5\xbd\xe2\xc2\xeb\xca\xa7\xb0\xdc", "VdPlay_OpenStream()");
  EXPECT_EQ(CallNames(), Names({"VdPlay_OpenStream", "VdPlay_GetLastError"}));

  Forget();
  FailCalls("VdPlay_Play", 30, 1);
  EXPECT_EQ(player->Play_OpenStream(Window(1), 8, header, sizeof header, 0), 26);
  ExpectOnlyError(30, gbk::kUnknown, "VdPlay_Play()");
  // The code is read before the stream is closed again.
  EXPECT_EQ(CallNames(), Names({"VdPlay_OpenStream", "VdPlay_Play", "VdPlay_GetLastError",
                                "VdPlay_CloseStream"}));
  EXPECT_EQ(OnlyCallArgs("VdPlay_CloseStream"), Args({0}));
  EXPECT_EQ(State(8), 0);
  EXPECT_EQ(player->Play_CloseStream(8), SP_ERR_ORDER);
}

// --- Data input ----------------------------------------------------------

TEST_F(StreamTest, InputNeedsDataAndAnOpenStream) {
  ASSERT_EQ(player->Play_SetOpenMode(3, 0), SP_OK);
  Forget();
  EXPECT_EQ(player->Play_InputData(3, nullptr, 8, 0), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_InputData(3, data, 0, 0), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_InputData(3, data, 8, 0), SP_ERR_ORDER);
  const std::vector<sp_test::ErrorRecord> errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  ExpectError(errors[1], 0, gbk::kBadArgument);
  ExpectError(errors[2], 0, gbk::kInputToClosedPort);
  EXPECT_TRUE(CallNames().empty());

  Playing(3);
  EXPECT_EQ(player->Play_InputData(3, data, 5, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_InputData"), Args({0, Address(data), 5}));
  EXPECT_TRUE(Errors().empty());
  EXPECT_TRUE(Traces().empty());  // level 1: no trace of the high-rate input
}

TEST_F(StreamTest, InputRetriesAfterRefusalsAndSucceeds) {
  Recreate(2);
  Playing(3);
  FailCalls("VdPlay_InputData", 11, 3);
  EXPECT_EQ(player->Play_InputData(3, data, 8, 0), SP_OK);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 4u);
  const std::vector<sp_test::ErrorRecord> errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  for (const auto& error : errors) ExpectError(error, 11, gbk::kBufferFull, "VdPlay_InputData()");
  EXPECT_EQ(Traces().size(), 1u);
}

TEST_F(StreamTest, TenRefusalsBelowLevelTwoGiveOneRecordAndTheDecoderResult) {
  Playing(3);
  FailCalls("VdPlay_InputData", 11);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(player->Play_InputData(3, data, 8, 0), 12);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 10u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));  // ten pauses of 100 ms
  ExpectOnlyError(11, gbk::kBufferFull, "VdPlay_InputData()");
}

TEST_F(StreamTest, TenRefusalsAtLevelTwoAreEachReported) {
  Recreate(2);
  Playing(3);
  FailCalls("VdPlay_InputData", 40);
  EXPECT_EQ(player->Play_InputData(3, data, 8, 0), 26);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 10u);
  const std::vector<sp_test::ErrorRecord> errors = Errors();
  ASSERT_EQ(errors.size(), 10u);
  for (const auto& error : errors) ExpectError(error, 40, gbk::kUnknown, "VdPlay_InputData()");
}

// --- Close ---------------------------------------------------------------

TEST_F(StreamTest, CloseStopsAndClosesOnceAndResetsOnlyTheColourValues) {
  Playing(4);
  SP_VIDEO_PARA para = {0, 60, 70, 80, 90, 0};
  ASSERT_EQ(player->Play_SetVideoPara(4, &para, 0), SP_OK);
  ASSERT_EQ(player->Play_SetPicQuality(4, 1), SP_OK);
  ASSERT_EQ(player->Play_ThrowFrame(4, 2), SP_OK);
  int32_t w = 0, h = 0;
  ASSERT_EQ(player->Play_GetPictureSize(4, &w, &h), SP_OK);
  SP_RECT region = {1, 2, 30, 40};
  ASSERT_EQ(player->Play_SetDispRegion(4, 1, &region), SP_OK);
  Forget();

  EXPECT_EQ(player->Play_CloseStream(4), SP_OK);
  EXPECT_EQ(CallNames(), Names({"VdPlay_Stop", "VdPlay_CloseStream"}));
  EXPECT_EQ(CallArgs(0), Args({0}));
  EXPECT_EQ(player->Play_CloseStream(4), SP_ERR_ORDER);
  ExpectOnlyError(0, gbk::kCannotStopUnstarted);
  EXPECT_EQ(CountCalls("VdPlay_Stop"), 1u);

  SP_VIDEO_PARA got = {};
  ASSERT_EQ(player->Play_GetVideoPara(4, &got), SP_OK);
  EXPECT_EQ(Args({got.brightness, got.contrast, got.saturation, got.hue}), Args({50, 50, 50, 50}));
  int32_t quality = 0, number = 0;
  SP_RECT kept = {};
  ASSERT_EQ(player->Play_GetPicQuality(4, &quality), SP_OK);
  ASSERT_EQ(player->Play_GetThrowNum(4, &number), SP_OK);
  ASSERT_EQ(player->Play_GetDispRegion(4, &kept), SP_OK);
  EXPECT_EQ(Args({quality, number, kept.left, kept.top, kept.right, kept.bottom}),
            Args({1, 2, 1, 2, 30, 40}));
  EXPECT_EQ(CountCalls("VdPlay_SetColor"), 0u);
  // The decoder port stays with the host port: reopening needs no set-up.
  EXPECT_EQ(player->Play_OpenStream(Window(1), 4, header, sizeof header, 0), SP_OK);
}

TEST_F(StreamTest, CloseFailuresLeaveThePortPlaying) {
  Playing(4);
  FailCalls("VdPlay_Stop", 2, 1);
  EXPECT_EQ(player->Play_CloseStream(4), 3);
  ExpectOnlyError(2, gbk::kWrongOrder, "VdPlay_Stop()");
  EXPECT_EQ(CountCalls("VdPlay_CloseStream"), 0u);
  EXPECT_EQ(State(4), PLAYSTATE_PLAY);
  Forget();
  FailCalls("VdPlay_CloseStream", 0, 1);
  EXPECT_EQ(player->Play_CloseStream(4), 26);
  ExpectOnlyError(0, gbk::kUnknown, "VdPlay_CloseStream()");
  EXPECT_EQ(State(4), PLAYSTATE_PLAY);
  EXPECT_EQ(player->Play_CloseStream(4), SP_OK);
}

// --- Play states ---------------------------------------------------------

// The decoder calls that bring a port to a state, whatever state it is in.
std::vector<std::pair<std::string, Args>> Sequence(int32_t state, int32_t window) {
  std::vector<std::pair<std::string, Args>> calls;
  if (state == PLAYSTATE_PAUSE) return {{"VdPlay_Pause", {0, 1}}};
  if (state == PLAYSTATE_ONE_BY_ONE) return {{"VdPlay_OneByOne", {0}}};
  calls.push_back({"VdPlay_Play", {0, window}});
  if (state == PLAYSTATE_PLAY) calls.push_back({"VdPlay_Pause", {0, 0}});
  for (int32_t i = PLAYSTATE_FAST1; i <= state && state <= PLAYSTATE_FAST3; ++i) {
    calls.push_back({"VdPlay_Fast", {0}});
  }
  for (int32_t i = PLAYSTATE_SLOW1; i <= state && state >= PLAYSTATE_SLOW1; ++i) {
    calls.push_back({"VdPlay_Slow", {0}});
  }
  return calls;
}

TEST_F(StreamTest, EveryStateIsReachedFromSeveralStatesByItsOwnSequence) {
  for (int32_t start : {PLAYSTATE_PLAY, PLAYSTATE_PAUSE, PLAYSTATE_FAST3, PLAYSTATE_SLOW2,
                        PLAYSTATE_ONE_BY_ONE}) {
    for (int32_t request = PLAYSTATE_PLAY; request <= PLAYSTATE_ONE_BY_ONE; ++request) {
      Playing(5, Window(0x5150));
      if (start != PLAYSTATE_PLAY) {
        ASSERT_EQ(player->Play_PlayState(5, start), SP_OK);
      }
      fake_vdplay::ClearCalls();
      EXPECT_EQ(player->Play_PlayState(5, request), SP_OK);
      std::vector<std::pair<std::string, Args>> calls;
      for (const fake_vdplay::Call& call : fake_vdplay::Calls()) {
        calls.push_back({call.function, call.args});
      }
      const bool unchanged = request == start && request != PLAYSTATE_ONE_BY_ONE;
      EXPECT_EQ(calls, unchanged ? decltype(calls){} : Sequence(request, 0x5150))
          << "from " << start << " to " << request;
      EXPECT_EQ(State(5), request);
      ASSERT_EQ(player->Play_CloseStream(5), SP_OK);
    }
  }
  EXPECT_TRUE(Errors().empty());
}

TEST_F(StreamTest, RequestsOutsideTheCodesChangeNothing) {
  ASSERT_EQ(player->Play_SetOpenMode(5, 0), SP_OK);
  Forget();
  EXPECT_EQ(player->Play_PlayState(5, 0), SP_ERR_ORDER);
  ExpectOnlyError(0, gbk::kCannotChangeUnstarted);
  EXPECT_EQ(player->Play_PlayState(5, PLAYSTATE_PAUSE), SP_ERR_ORDER);
  Playing(5);
  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_SLOW1), SP_OK);
  fake_vdplay::ClearCalls();
  for (int32_t request : {0, 10, -1}) EXPECT_EQ(player->Play_PlayState(5, request), SP_OK);
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ(State(5), PLAYSTATE_SLOW1);
  int32_t state = 77;
  EXPECT_EQ(player->Play_GetPlayState(128, &state), SP_ERR_PARAM);
  EXPECT_EQ(state, 77);
}

TEST_F(StreamTest, AFailingStepReportsItsContextAndKeepsTheOldState) {
  struct Case {
    int32_t request;
    const char* function;
    int skip;  // successful calls of the function before the failing one
    const char* context;
  };
  const Case cases[] = {
      {PLAYSTATE_PLAY, "VdPlay_Play", 0, "VdPlay_Play()"},
      {PLAYSTATE_PLAY, "VdPlay_Pause", 0, "VdPlay_Pause()"},
      {PLAYSTATE_PAUSE, "VdPlay_Pause", 0, "VdPlay_Pause()"},
      {PLAYSTATE_FAST1, "VdPlay_Fast", 0, "VdPlay_Fast()"},
      {PLAYSTATE_FAST2, "VdPlay_Fast", 0, "VdPlay_Fast(1)"},
      {PLAYSTATE_FAST2, "VdPlay_Fast", 1, "VdPlay_Fast(2)"},
      {PLAYSTATE_FAST3, "VdPlay_Fast", 2, "VdPlay_Fast(3)"},
      {PLAYSTATE_SLOW1, "VdPlay_Slow", 0, "VdPlay_Slow(1)"},
      {PLAYSTATE_SLOW2, "VdPlay_Slow", 1, "VdPlay_Slow(2)"},
      {PLAYSTATE_SLOW3, "VdPlay_Slow", 2, "VdPlay_Slow(3)"},
      {PLAYSTATE_SLOW3, "VdPlay_Play", 0, "VdPlay_Play()"},
      {PLAYSTATE_ONE_BY_ONE, "VdPlay_OneByOne", 0, "VdPlay_OneByOne"},
  };
  for (const Case& c : cases) {
    Playing(5);
    const int32_t before = c.request == PLAYSTATE_PLAY ? PLAYSTATE_FAST1 : PLAYSTATE_PLAY;
    if (before != PLAYSTATE_PLAY) {
      ASSERT_EQ(player->Play_PlayState(5, before), SP_OK);
    }
    Forget();
    FailCalls(c.function, 5, 1, c.skip);
    EXPECT_EQ(player->Play_PlayState(5, c.request), 6) << c.context;
    ExpectOnlyError(5, "\xd2\xf4\xc6\xb5\xbd\xe2\xc2\xeb\xca\xa7\xb0\xdc", c.context);
    // The sequence stops at the failing call.
    const Names names = CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], c.function) << c.context;
    EXPECT_EQ(names.back(), "VdPlay_GetLastError");
    EXPECT_EQ(CountCalls(c.function), static_cast<std::size_t>(c.skip + 1)) << c.context;
    EXPECT_EQ(State(5), c.request == PLAYSTATE_ONE_BY_ONE ? PLAYSTATE_ONE_BY_ONE : before);
    ASSERT_EQ(player->Play_CloseStream(5), SP_OK);
  }
}

TEST_F(StreamTest, SteppingLetsOneBlockOfDataThroughPerFurtherStep) {
  Playing(5);
  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_ONE_BY_ONE), SP_OK);
  EXPECT_EQ(Impl().Port(5).stepInputPermit, 0);
  EXPECT_EQ(player->Play_InputData(5, data, 8, 0), SP_ERR_STEPPING);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 0u);
  EXPECT_TRUE(Errors().empty());

  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_ONE_BY_ONE), SP_OK);
  EXPECT_EQ(Impl().Port(5).stepInputPermit, 1);
  EXPECT_EQ(player->Play_InputData(5, data, 8, 0), SP_OK);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 1u);
  EXPECT_EQ(Impl().Port(5).stepInputPermit, 0);
  EXPECT_EQ(player->Play_InputData(5, data, 8, 0), SP_ERR_STEPPING);
  EXPECT_EQ(CountCalls("VdPlay_InputData"), 1u);
  EXPECT_EQ(CountCalls("VdPlay_OneByOne"), 2u);

  // Leaving and re-entering stepping starts again without the permit.
  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_ONE_BY_ONE), SP_OK);
  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_PLAY), SP_OK);
  ASSERT_EQ(player->Play_PlayState(5, PLAYSTATE_ONE_BY_ONE), SP_OK);
  EXPECT_EQ(player->Play_InputData(5, data, 8, 0), SP_ERR_STEPPING);
}

}  // namespace
}  // namespace sp_test
