// The player object: factory, port table, trace records and Play_Init.
#include <atomic>
#include <climits>
#include <functional>
#include <thread>

#include "support/PlayerTestFixture.h"

namespace sp_test {
namespace {

using fake_vdplay::CallNames;

// A configuration at the level with the argument records switched on.
std::string ArgumentTracingConfig(const std::string& logDir, int level) {
  return "[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n[DEBUG_LEVEL][" + std::to_string(level) +
         "]\n[TRACE_ARGUMENTS][1]\n";
}

// Every operation of slots 2 to 25 on one host port, with the texts of its
// trace record.
struct Operation {
  const char* label;  // GBK description
  const char* name;
  // Context of the record when the host port has no decoder port; null for
  // the operations that need none.
  const char* lookupContext;
  std::function<int32_t(ISinglePlayer*, int32_t port)> call;
};

std::vector<Operation> AllOperations() {
  static std::uint8_t bytes[4] = {1, 2, 3, 4};
  static int32_t i32 = 0;
  static uint32_t u32 = 0;
  static SP_VIDEO_PARA para = {0, 50, 50, 50, 50, 0};
  static SP_RECT rect = {0, 0, 0, 0};
  return {
      {"\xc9\xe8\xd6\xc3" "Overlay" "\xc4\xa3\xca\xbd", "Play_SetOverlayMode", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetOverlayMode(port, 0); }},
      {"\xbb\xf1\xc8\xa1\xcf\xd4\xca\xbe\xc4\xa3\xca\xbd", "Play_GetPreviewMode", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetPreviewMode(port, &i32, &u32); }},
      {"\xc9\xe8\xd6\xc3\xb2\xa5\xb7\xc5\xc4\xa3\xca\xbd", "Play_SetOpenMode", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetOpenMode(port, 0); }},
      {"\xb4\xf2\xbf\xaa\xca\xfd\xbe\xdd\xc1\xf7", "Play_OpenStream", "Play_OpenStream()",
       [](ISinglePlayer* p, int32_t port) {
         return p->Play_OpenStream(Window(1), port, bytes, sizeof bytes, 0);
       }},
      {"\xca\xe4\xc8\xeb\xca\xfd\xbe\xdd\xc1\xf7", "Play_InputData", "Play_InputData()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_InputData(port, bytes, 4, 0); }},
      {"\xb9\xd8\xb1\xd5\xca\xfd\xbe\xdd\xc1\xf7", "Play_CloseStream", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_CloseStream(port); }},
      {"\xb5\xf7\xd5\xfb\xb2\xa5\xb7\xc5\xd7\xb4\xcc\xac", "Play_PlayState", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_PlayState(port, 2); }},
      {"\xbb\xf1\xb5\xc3\xb2\xa5\xb7\xc5\xd7\xb4\xcc\xac", "Play_GetPlayState", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetPlayState(port, &i32); }},
      {"\xc9\xe8\xd6\xc3\xb2\xa5\xb7\xc5\xd2\xf4\xc1\xbf", "Play_SetVolume", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetVolume(port, 10); }},
      {"\xbb\xf1\xb5\xc3\xb2\xa5\xb7\xc5\xd2\xf4\xc1\xbf", "Play_GetVolume", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetVolume(port, &i32); }},
      {"\xd7\xa5\xc8\xa1\xcd\xbc\xc6\xac", "Play_GetPicture", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetPicture(port, "x.bmp"); }},
      {"\xcb\xa2\xd0\xc2\xcf\xd4\xca\xbe", "Play_RefreshPlay", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_RefreshPlay(port); }},
      // Play_GetHeadLen has no port; it takes part in the trace tests only.
      {"\xbb\xf1\xc8\xa1\xcd\xb7\xb4\xf3\xd0\xa1", "Play_GetHeadLen", nullptr,
       [](ISinglePlayer* p, int32_t) { return p->Play_GetHeadLen(nullptr); }},
      {"\xbb\xf1\xc8\xa1\xcd\xbc\xcf\xf1\xb3\xdf\xb4\xe7", "Play_GetPictureSize", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetPictureSize(port, &i32, &i32); }},
      {"\xc9\xe8\xd6\xc3\xbb\xad\xc3\xe6\xd6\xca\xc1\xbf", "Play_SetPicQuality", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetPicQuality(port, 1); }},
      {"\xb6\xc1\xc8\xa1\xbb\xad\xc3\xe6\xd6\xca\xc1\xbf", "Play_GetPicQuality", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetPicQuality(port, &i32); }},
      {"\xb2\xa5\xb7\xc5\xb6\xaa\xd6\xa1", "Play_ThrowFrame", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_ThrowFrame(port, 1); }},
      {"\xbb\xf1\xc8\xa1\xb6\xaa\xd6\xa1\xca\xfd", "Play_GetThrowNum", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetThrowNum(port, &i32); }},
      {"\xc9\xe8\xd6\xc3\xc1\xc1\xb6\xc8\xb5\xc8\xca\xd3\xc6\xb5\xb2\xce\xca\xfd", "Play_SetVideoPara", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetVideoPara(port, &para, 0); }},
      // The two getters trace with their setters' texts.
      {"\xc9\xe8\xd6\xc3\xc1\xc1\xb6\xc8\xb5\xc8\xca\xd3\xc6\xb5\xb2\xce\xca\xfd", "Play_SetVideoPara", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetVideoPara(port, &para); }},
      {"\xc9\xe8\xd6\xc3\xcf\xd4\xca\xbe\xc7\xf8\xd3\xf2", "Play_SetDispRegion", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_SetDispRegion(port, 0, &rect); }},
      {"\xc9\xe8\xd6\xc3\xcf\xd4\xca\xbe\xc7\xf8\xd3\xf2", "Play_SetDispRegion", nullptr,
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetDispRegion(port, &rect); }},
      {"\xc7\xe5\xc0\xed\xbb\xba\xb3\xe5\xc7\xf8", "Play_ClearBuffer", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_ClearBuffer(port); }},
      {"\xbb\xf1\xb5\xc3\xbb\xba\xb3\xe5\xc7\xf8\xca\xa3\xd3\xe0\xca\xfd\xbe\xdd\xb4\xf3\xd0\xa1",
       "Play_GetBufferRemainDataSize", "Play_CloseStream()",
       [](ISinglePlayer* p, int32_t port) { return p->Play_GetBufferRemainDataSize(port, &u32); }},
  };
}

bool HighRate(const Operation& op) {
  return std::string(op.name) == "Play_InputData" || std::string(op.name) == "Play_ThrowFrame";
}

// --- Factory -------------------------------------------------------------

TEST_F(PlayerTest, EveryCallerGetsTheOnePlayerAndForeignReleasesAreIgnored) {
  EXPECT_EQ(CreateSinglePlayerDll(), player);
  ASSERT_EQ(player->Play_SetOverlayMode(3, 0x123456), SP_OK);
  int32_t local = 0;
  ReleaseSinglePlayerDll(nullptr);
  ReleaseSinglePlayerDll(reinterpret_cast<ISinglePlayer*>(&local));
  // Still the same player, not a new one at the same address: it kept its state.
  EXPECT_EQ(CreateSinglePlayerDll(), player);
  int32_t mode = 0;
  uint32_t key = 0;
  ASSERT_EQ(player->Play_GetPreviewMode(3, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(key, 0x123456u);
}

TEST_F(PlayerTest, ReleaseThenCreateGivesFreshDefaults) {
  Init(2);
  ASSERT_EQ(player->Play_SetOpenMode(100, 0), SP_OK);
  ASSERT_EQ(player->Play_SetOverlayMode(5, 0x123456), SP_OK);
  SP_VIDEO_PARA para = {0, 10, 20, 30, 40, 0};
  ASSERT_EQ(player->Play_SetVideoPara(5, &para, 0), SP_OK);
  ASSERT_EQ(player->Play_SetVolume(5, 70), SP_OK);

  ReleaseSinglePlayerDll(player);
  player = CreateSinglePlayerDll();
  ASSERT_NE(player, nullptr);
  Forget();
  EXPECT_EQ(Impl().DebugLevel(), 0);
  int32_t mode = -1;
  uint32_t key = 0;
  ASSERT_EQ(player->Play_GetPreviewMode(5, &mode, &key), SP_OK);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(key, 0x00FF00FFu);
  SP_VIDEO_PARA got = {9, 9, 9, 9, 9, 9};
  ASSERT_EQ(player->Play_GetVideoPara(5, &got), SP_OK);
  EXPECT_EQ(Args({got.reserved0, got.brightness, got.contrast, got.saturation, got.hue,
                  got.reserved5}),
            Args({0, 50, 50, 50, 50, 0}));
  int32_t volume = -1;
  ASSERT_EQ(player->Play_GetVolume(5, &volume), SP_OK);
  EXPECT_EQ(volume, 0);
  // Decoder ports are handed out from 0 again, to whichever host port asks first.
  ASSERT_EQ(player->Play_SetOpenMode(5, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_SetStreamOpenMode"), Args({0, 0}));
  // Level 0 until Play_Init runs again: the old trace folder gets nothing.
  EXPECT_TRUE(Traces().empty());
}

TEST_F(PlayerTest, ReleasingAPlayerWithPlayingPortsCallsNoDecoderFunction) {
  Init(1);
  Playing(1);
  Playing(2);
  ASSERT_EQ(player->Play_PlayState(2, PLAYSTATE_FAST2), SP_OK);
  fake_vdplay::ClearCalls();
  ReleaseSinglePlayerDll(player);
  player = nullptr;
  EXPECT_TRUE(CallNames().empty());
}

TEST_F(PlayerTest, ConcurrentFirstCallsGetTheSamePlayer) {
  for (int round = 0; round < 20; ++round) {
    ReleaseSinglePlayerDll(player);
    player = nullptr;
    std::atomic<bool> go{false};
    std::vector<ISinglePlayer*> got(6, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < got.size(); ++i) {
      threads.emplace_back([&, i] {
        while (!go) std::this_thread::yield();
        got[i] = CreateSinglePlayerDll();
      });
    }
    go = true;
    for (std::thread& t : threads) t.join();
    player = got[0];
    ASSERT_NE(player, nullptr);
    for (ISinglePlayer* p : got) ASSERT_EQ(p, player) << "round " << round;
  }
}

// --- Port table ----------------------------------------------------------

TEST_F(PlayerTest, DecoderPortsFollowTheOrderOfFirstSetUp) {
  ASSERT_EQ(player->Play_SetOpenMode(100, 0), SP_OK);
  ASSERT_EQ(player->Play_SetOverlayMode(5, 0x10), SP_OK);
  ASSERT_EQ(player->Play_SetOpenMode(100, 1), SP_OK);
  ASSERT_EQ(player->Play_SetOverlayMode(100, 0x20), SP_OK);
  EXPECT_EQ(CallArgs(0), Args({0, 0}));
  EXPECT_EQ(CallArgs(1), Args({1, 1, 0x10}));
  EXPECT_EQ(CallArgs(2), Args({0, 1}));
  EXPECT_EQ(CallArgs(3), Args({0, 1, 0x20}));
}

TEST_F(PlayerTest, HostPortsOutsideTheRangeAreRejectedByEveryOperation) {
  Init(0);
  for (const Operation& op : AllOperations()) {
    if (std::string(op.name) == "Play_GetHeadLen") continue;
    for (int32_t port : {-1, 128, INT_MIN, INT_MAX}) {
      Forget();
      EXPECT_EQ(op.call(player, port), SP_ERR_PARAM) << op.name << " port " << port;
      ExpectOnlyError(0, gbk::kBadArgument);
      EXPECT_TRUE(CallNames().empty()) << op.name;
    }
  }
  for (int32_t port : {0, 127}) {
    EXPECT_EQ(player->Play_SetOpenMode(port, 0), SP_OK);
    EXPECT_EQ(player->Play_OpenStream(Window(1), port, header, sizeof header, 0), SP_OK);
  }
}

TEST_F(PlayerTest, OperationsWithoutADecoderPortReportInvalidInput) {
  Init(0);
  for (const Operation& op : AllOperations()) {
    if (op.lookupContext == nullptr) continue;
    Forget();
    EXPECT_EQ(op.call(player, 60), SP_ERR_PARAM) << op.name;
    ExpectOnlyError(1, gbk::kInvalidInput, op.lookupContext);
    EXPECT_EQ(CallNames(), Names{}) << op.name;
  }
}

TEST_F(PlayerTest, CacheOnlyQueriesAnswerForAPortThatNeverHadADecoderPort) {
  int32_t mode = -1, state = -1, volume = -1, quality = -1, number = -1;
  uint32_t key = 0;
  SP_VIDEO_PARA para = {7, 7, 7, 7, 7, 7};
  SP_RECT rect = {7, 7, 7, 7};
  EXPECT_EQ(player->Play_GetPreviewMode(127, &mode, &key), SP_OK);
  EXPECT_EQ(player->Play_GetPlayState(127, &state), SP_OK);
  EXPECT_EQ(player->Play_GetVolume(127, &volume), SP_OK);
  EXPECT_EQ(player->Play_GetPicQuality(127, &quality), SP_OK);
  EXPECT_EQ(player->Play_GetThrowNum(127, &number), SP_OK);
  EXPECT_EQ(player->Play_GetVideoPara(127, &para), SP_OK);
  EXPECT_EQ(player->Play_GetDispRegion(127, &rect), SP_OK);
  EXPECT_EQ(Args({mode, state, volume, quality, number}), Args({0, 0, 0, 0, 0}));
  EXPECT_EQ(key, 0x00FF00FFu);
  EXPECT_EQ(Args({para.reserved0, para.brightness, para.contrast, para.saturation, para.hue,
                  para.reserved5}),
            Args({0, 50, 50, 50, 50, 0}));
  EXPECT_EQ(Args({rect.left, rect.top, rect.right, rect.bottom}), Args({0, 0, 0, 0}));
  EXPECT_TRUE(CallNames().empty());
}

TEST_F(PlayerTest, TheThirtyThirdHostPortIsRefusedAndClosingMakesNoRoom) {
  Init(0);
  for (int32_t port = 0; port < 32; ++port) Playing(port * 3);
  EXPECT_EQ(player->Play_SetOpenMode(100, 0), SP_ERR_PARAM);
  ExpectOnlyError(1, gbk::kInvalidInput, "Play_SetOpenMode()");
  Forget();
  EXPECT_EQ(player->Play_SetOverlayMode(100, 0), SP_ERR_PARAM);
  ExpectOnlyError(1, gbk::kInvalidInput, "Play_SetOverlayMode()");
  EXPECT_TRUE(CallNames().empty());

  // A playing port reopens with its own decoder port although none is free.
  Forget();
  EXPECT_EQ(player->Play_OpenStream(Window(2), 93, header, sizeof header, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_OpenStream"), Args({31, Address(header), 4, 512000}));
  for (int32_t port = 0; port < 32; ++port) ASSERT_EQ(player->Play_CloseStream(port * 3), SP_OK);
  EXPECT_EQ(player->Play_SetOpenMode(100, 0), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_SetOpenMode(3, 1), SP_OK);
}

// --- Trace records -------------------------------------------------------

// Every level from 2 on writes exactly level 2's records: hosts configured
// with a higher level keep the records their log readers expect.
TEST_F(PlayerTest, TraceRecordsFollowTheDebugLevel) {
  const std::vector<Operation> ops = AllOperations();
  for (int level : {0, -1, 1, 2, 3, 7}) {
    Recreate(level);
    Forget();
    EXPECT_EQ(player->Play_Exit(), SP_OK);
    // Port 128 fails every check: the record is written on entry, before them.
    for (const Operation& op : ops) op.call(player, 128);
    const std::vector<sp_test::LogRecord> traces = Traces();
    std::vector<const Operation*> expected;
    for (const Operation& op : ops) {
      if (level >= 2 || (level == 1 && !HighRate(op))) expected.push_back(&op);
    }
    ASSERT_EQ(traces.size(), expected.size()) << "level " << level;
    for (std::size_t i = 0; i < traces.size(); ++i) {
      EXPECT_EQ(traces[i].timestamp, "12-07 09:05:03.04");
      EXPECT_EQ(traces[i].label[0], expected[i]->label) << expected[i]->name;
      EXPECT_EQ(traces[i].value[0], expected[i]->name);
      for (int pair = 1; pair < 3; ++pair) {
        EXPECT_EQ(traces[i].label[pair], "");
        EXPECT_EQ(traces[i].value[pair], "");
      }
    }
  }
}

// With TRACE_ARGUMENTS set, every traced operation names its arguments in
// its trace record and writes a second record with its result when it
// returns; the level still decides which operations are traced.
TEST_F(PlayerTest, TheArgumentKeyTracesArgumentsAndResults) {
  const std::vector<Operation> ops = AllOperations();
  for (int level : {2, 7}) {
    Recreate(level);
    WriteConfig(ArgumentTracingConfig(logDir, level));
    ASSERT_EQ(player->Play_Init(0), SP_OK);
    Forget();
    std::vector<int32_t> results;
    for (const Operation& op : ops) results.push_back(op.call(player, 128));
    const std::vector<sp_test::LogRecord> traces = Traces();
    ASSERT_EQ(traces.size(), 2 * ops.size()) << "level " << level;
    for (std::size_t i = 0; i < ops.size(); ++i) {
      const sp_test::LogRecord& entry = traces[2 * i];
      const sp_test::LogRecord& exit = traces[2 * i + 1];
      for (const sp_test::LogRecord* record : {&entry, &exit}) {
        EXPECT_EQ(record->label[0], ops[i].label) << ops[i].name;
        EXPECT_EQ(record->value[0], ops[i].name);
        EXPECT_EQ(record->label[1], "Arguments");
      }
      const bool hasPort = std::string(ops[i].name) != "Play_GetHeadLen" &&
                           std::string(ops[i].name) != "Play_OpenStream";
      if (hasPort) {
        EXPECT_EQ(entry.value[1].rfind("port=128", 0), 0u) << entry.value[1];
      }
      EXPECT_EQ(exit.value[1], entry.value[1]);
      EXPECT_EQ(entry.label[2] + entry.value[2], "");
      EXPECT_EQ(exit.label[2], "Result");
      EXPECT_EQ(exit.value[2], std::to_string(results[i])) << ops[i].name;
    }
  }
}

TEST_F(PlayerTest, ArgumentRecordsOnlyFollowTheKeyAndItsLevel) {
  // Level 1 with the key: Play_ThrowFrame is not traced at all.
  WriteConfig(ArgumentTracingConfig(logDir, 1));
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  Playing(5);
  EXPECT_EQ(player->Play_ThrowFrame(5, 1), SP_OK);
  EXPECT_EQ(player->Play_SetVolume(5, 9), SP_OK);
  std::vector<sp_test::LogRecord> traces = Traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].value[0] + " " + traces[0].value[1], "Play_SetVolume port=5, volume=9");
  EXPECT_EQ(traces[1].label[2] + " " + traces[1].value[2], "Result 0");
  // The key at 0, or a file without it: level 2's plain records.
  WriteConfig("[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n[DEBUG_LEVEL][3]\n[TRACE_ARGUMENTS][0]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_FALSE(Impl().TracesArguments());
  Forget();
  EXPECT_EQ(player->Play_ThrowFrame(5, 1), SP_OK);
  traces = Traces();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].label[1] + traces[0].value[1] + traces[0].label[2], "");
}

TEST_F(PlayerTest, ArgumentRecordsShowValuesAndOnlyWhetherAddressesArePresent) {
  WriteConfig(ArgumentTracingConfig(logDir, 2));
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  Playing(5);
  SP_VIDEO_PARA para = {0, 50, 50, 50, 50, 0};
  EXPECT_EQ(player->Play_SetOverlayMode(5, 0x123), SP_OK);
  EXPECT_EQ(player->Play_InputData(5, data, sizeof data, 77), SP_OK);
  EXPECT_EQ(player->Play_GetPicture(5, nullptr), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_SetVideoPara(5, &para, 1), SP_OK);
  EXPECT_EQ(player->Play_GetHeadLen(nullptr), SP_ERR_PARAM);
  EXPECT_EQ(player->Play_Init(0), SP_OK);  // writes no record at any level
  const std::vector<sp_test::LogRecord> traces = Traces();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"port=5, colorKey=291", "0"},
      {"port=5, data=present, length=8, unused=77", "0"},
      {"port=5, path=null", "2"},
      {"port=5, para=present, restoreDefaults=1", "0"},
      {"headerLength=null", "2"},
  };
  ASSERT_EQ(traces.size(), 2 * expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(traces[2 * i].value[1], expected[i].first);
    EXPECT_EQ(traces[2 * i + 1].value[1], expected[i].first);
    EXPECT_EQ(traces[2 * i + 1].value[2], expected[i].second);
  }
}

TEST_F(PlayerTest, ArgumentRecordsShowTheInnerCloseOfAReopenBetweenTheOpenRecords) {
  WriteConfig(ArgumentTracingConfig(logDir, 2));
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  Playing(5);
  EXPECT_EQ(player->Play_OpenStream(nullptr, 5, header, sizeof header, 0), SP_OK);
  const std::vector<sp_test::LogRecord> traces = Traces();
  ASSERT_EQ(traces.size(), 4u);
  EXPECT_EQ(traces[0].value[0] + " " + traces[0].value[1],
            "Play_OpenStream window=null, port=5, header=present, headerLength=4, unused=0");
  EXPECT_EQ(traces[1].value[0] + " " + traces[1].value[1] + " " + traces[1].label[2],
            "Play_CloseStream port=5 ");
  EXPECT_EQ(traces[2].value[0] + " " + traces[2].value[2], "Play_CloseStream 0");
  EXPECT_EQ(traces[3].value[0] + " " + traces[3].value[2], "Play_OpenStream 0");
}

// --- Play_Init -----------------------------------------------------------

std::string WithBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST_F(PlayerTest, InitTakesTheTraceFolderFromTheConfigurationFile) {
  // Backslashes and no trailing separator: normalised, every level created.
  const std::string folder = dir.File("logs/player/");
  WriteConfig("#player\n[GLOBAL]\n[TRACE_PATH][" + WithBackslashes(dir.File("logs/player")) +
              "]\n[DEBUG_LEVEL][2]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(Impl().TraceDir(), folder);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(Impl().Log().RuntimeLogPath(), folder + "Vd_Player_Runtime.log");
  EXPECT_EQ(Impl().Log().ErrorLogPath(), folder + "Vd_Player_Error.log");
  EXPECT_EQ(Impl().DebugLevel(), 2);
  EXPECT_TRUE(CallNames().empty());

  // A trailing slash is kept as it is.
  WriteConfig("[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(Impl().TraceDir(), logDir);
  EXPECT_EQ(Impl().DebugLevel(), 0);
  EXPECT_EQ(player->Play_SetOpenMode(-1, 0), SP_ERR_PARAM);
  ExpectOnlyError(0, gbk::kBadArgument);
}

TEST_F(PlayerTest, InitWithoutConfigurationFileFallsBackToTheFixedFolder) {
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(Impl().TraceDir(), "c:/tovan/");
  EXPECT_EQ(Impl().Log().RuntimeLogPath(), "c:/tovan/Vd_Player_Runtime.log");
  EXPECT_EQ(Impl().Log().ErrorLogPath(), "c:/tovan/Vd_Player_Error.log");
  EXPECT_EQ(Impl().DebugLevel(), 0);
#if defined(_WIN32)
  EXPECT_TRUE(std::filesystem::is_directory("c:/tovan"));
#endif
}

TEST_F(PlayerTest, InitWithAnEmptyTracePathUsesBareFileNames) {
  WriteConfig("[GLOBAL]\n[TRACE_PATH][]\n[DEBUG_LEVEL][1]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(Impl().TraceDir(), "");
  EXPECT_EQ(Impl().Log().RuntimeLogPath(), "Vd_Player_Runtime.log");
  EXPECT_EQ(Impl().Log().ErrorLogPath(), "Vd_Player_Error.log");
  EXPECT_EQ(Impl().DebugLevel(), 1);
}

TEST_F(PlayerTest, InitReadsTheDebugLevelAsAtoiDoes) {
  const std::pair<const char*, int> cases[] = {
      {"2", 2}, {" 1x", 1}, {"abc", 0}, {"-1", -1}, {"", 0}, {"+3", 3}};
  for (const auto& c : cases) {
    WriteConfig(std::string("[GLOBAL]\n[DEBUG_LEVEL][") + c.first + "]\n[TRACE_PATH][" + logDir +
                "]\n");
    ASSERT_EQ(player->Play_Init(0), SP_OK);
    EXPECT_EQ(Impl().DebugLevel(), c.second) << "'" << c.first << "'";
  }
  WriteConfig("[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n");
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  EXPECT_EQ(Impl().DebugLevel(), 0);
}

TEST_F(PlayerTest, FailedInitAndPlayExitChangeNothing) {
  EXPECT_EQ(player->Play_Exit(), SP_OK);
  Init(2);
  ASSERT_EQ(player->Play_Init(12345), SP_OK);
  EXPECT_EQ(Impl().HostValue(), 12345);
  ASSERT_EQ(player->Play_SetOpenMode(4, 1), SP_OK);

  WriteConfig("[GLOBAL]\n[TRACE_PATH][" + dir.File("other/") + "]\n[DEBUG_LEVEL][0]\n");
  sp::platform::testing::OverrideSystemDirectory(std::nullopt);
  EXPECT_EQ(player->Play_Init(-5), SP_ERR_INIT);
  EXPECT_EQ(player->Play_Exit(), SP_OK);
  EXPECT_EQ(Impl().HostValue(), 12345);
  EXPECT_EQ(Impl().DebugLevel(), 2);
  EXPECT_EQ(Impl().TraceDir(), logDir);
  EXPECT_EQ(Impl().Log().ErrorLogPath(), logDir + "Vd_Player_Error.log");
  EXPECT_FALSE(sp_test::Exists(dir.File("other")));
  // The port set up before still plays with its open mode.
  ASSERT_EQ(player->Play_OpenStream(Window(1), 4, header, sizeof header, 0), SP_OK);
  EXPECT_EQ(OnlyCallArgs("VdPlay_OpenStream"), Args({0, Address(header), 4, 1024000}));
}

TEST_F(PlayerTest, RecordsBeforeInitGoToTheDefaultErrorLog) {
  std::filesystem::create_directories(configRoot + "q38");
  EXPECT_EQ(player->Play_OpenStream(Window(1), 9, header, sizeof header, 0), SP_ERR_PARAM);
  bool ok = true;
  const auto records = sp_test::ReadLogRecords(configRoot + "q38/q38_error.log", ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].value[2], gbk::kInvalidInput + "\r\nPlay_OpenStream()");
  EXPECT_FALSE(sp_test::Exists(configRoot + "q38/q38_runtime.log"));
}

#if defined(_WIN32)
TEST_F(PlayerTest, InitReadsTheConfigurationFileOnTheSystemDrive) {
  // The one test that uses the prefix's own C:/; it removes its file again.
  const std::string config = "C:/q38/cfg/Q38.cfg";
  std::filesystem::create_directories("C:/q38/cfg");
  sp_test::WriteFile(config, "[GLOBAL]\n[TRACE_PATH][" + logDir + "]\n[DEBUG_LEVEL][3]\n");
  sp::platform::testing::OverrideSystemDirectory(std::string("C:\\WINDOWS\\system32"));
  const int32_t result = player->Play_Init(0);
  std::error_code ignored;
  std::filesystem::remove(config, ignored);
  ASSERT_EQ(result, SP_OK);
  EXPECT_EQ(Impl().TraceDir(), logDir);
  EXPECT_EQ(Impl().DebugLevel(), 3);
}
#endif

}  // namespace
}  // namespace sp_test
