// Allocation failure at every allocation point of a fixed sequence over the
// 26 operations and both exports: the n-th allocation of the calling thread
// fails, for n = 1, 2, 3, ... until a run completes with none failed. Run at
// debug levels 1 and 2 and with the argument records on. In every run
// nothing crashes or escapes, every result is one the interface defines,
// every log holds whole records only, and once allocations succeed again
// the player (or a new one) works with distinct decoder ports. A failure
// that hits a log record drops the record and nothing else: the operation
// returns what the fault-free run returned and has done its work (the
// player's state read back after every step). Built twice: over the fake
// decoder and over the stand-in decoder, whose exported functions must not
// throw either.
#include <SinglePlayer.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "PlayerProbe.h"
#include "support/LogRecords.h"
#include "support/TestIsolation.h"

#if defined(SP_OVER_STAND_IN)
#include <VdPlay.h>
#include <VdStreamFormat.h>
#define SP_DECODER_NAME "stand-in decoder"
#else
#include "FakeVdPlay.h"
#define SP_DECODER_NAME "fake decoder"
#endif

namespace {

using failing_allocator::Mode;

const std::string kAllocationFailed =
    "\xb7\xd6\xc5\xe4\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc";  // 分配内存失败

constexpr std::int32_t kPort = 1;
constexpr std::int32_t kCheckPort = 2;
constexpr const char kRefusedInput[] = "InputData(refused once)";

// What the operations may return: success, the player's own codes and the
// error table's results.
bool IsDefinedResult(std::int32_t result) {
  return result == 0 || (result >= 2 && result <= 24) || result == 26;
}

// The configurations the sweeps run under.
struct Tracing {
  int level;
  bool arguments;
};

std::string Describe(const Tracing& tracing) {
  return "level " + std::to_string(tracing.level) +
         (tracing.arguments ? " with argument records" : "");
}

using player_probe::PortState;
using player_probe::ReadPortState;

// One run of the sequence: each step's result, allocations counted up to
// its end, the port's state after it and whether a failure had been
// injected by then.
struct SequenceRun {
  std::int32_t initResult = SP_OK;
  std::vector<std::int32_t> results;
  std::vector<long> countedAfter;
  std::vector<PortState> states;
  std::vector<bool> injectedBy;

  void Reserve() {
    results.reserve(64);
    countedAfter.reserve(64);
    states.reserve(64);
    injectedBy.reserve(64);
  }
};

struct Stream {
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> data;
};

Stream MakeStream() {
#if defined(SP_OVER_STAND_IN)
  Stream stream{vdstream::makeFileHeader(16, 16, 25, 1), {}};
  std::vector<std::uint8_t> picture(vdstream::pictureBytes(16, 16), 0x80);
  vdstream::appendPacket(stream.data, picture.data(), picture.size(), 0, vdstream::Payload::Raw);
  return stream;
#else
  return Stream{{'V', 'D', 'H', 'R'}, {1, 2, 3, 4, 5, 6, 7, 8}};
#endif
}

// Leaves the decoder as a fresh process has it: the player never closes
// the streams a failed run left open.
void ResetDecoder() {
#if defined(SP_OVER_STAND_IN)
  for (VdLong port : {0, 1, 2}) {
    VdPlay_Stop(port);
    VdPlay_CloseStream(port);
  }
#else
  fake_vdplay::Reset();
  fake_vdplay::SetFramesOnInstall(1);  // a capture finds its frame at once
#endif
}

// One step of the sequence. A step whose own work allocates nothing (it
// answers from the cache, or rejects its arguments) never returns the
// allocation failure's result: every allocation it makes is a record's.
struct Step {
  const char* name;
  bool ownWorkAllocates;
  std::function<std::int32_t(ISinglePlayer*)> call;
};

class AllocationFailure : public ::testing::TestWithParam<Tracing> {
 protected:
  void SetUp() override {
    if (!failing_allocator::InEffect()) GTEST_SKIP() << "the allocator cannot be replaced here";
    root = sp_test::IsolatedFolder() + "root/";
    logDir = sp_test::IsolatedFolder() + "logs/";
    std::filesystem::create_directories(root + "q38/cfg");
    ResetDecoder();
    BuildSteps();
    // The fault-free runs: once to let every buffer that lives on grow
    // (the record buffer, the fake's call list), then at level 0 and at the
    // tested level, whose allocation counts tell which of a step's
    // allocations belong to its trace records.
    WriteConfig(GetParam());
    RunFaultFree(reference);
    WriteConfig(Tracing{0, false});
    RunFaultFree(untraced);
    WriteConfig(GetParam());
    RunFaultFree(reference);
    ASSERT_EQ(reference.initResult, SP_OK);
    ASSERT_EQ(untraced.results, reference.results);
  }
  void TearDown() override { ResetDecoder(); }

  void WriteConfig(const Tracing& tracing) {
    std::FILE* config = std::fopen((root + "q38/cfg/Q38.cfg").c_str(), "wb");
    ASSERT_NE(config, nullptr);
    std::fprintf(config, "[GLOBAL]\n[TRACE_PATH][%s]\n[DEBUG_LEVEL][%d]\n[TRACE_ARGUMENTS][%d]\n",
                 logDir.c_str(), tracing.level, tracing.arguments ? 1 : 0);
    std::fclose(config);
  }

  void BuildSteps() {
    auto add = [&](const char* name, bool ownWorkAllocates,
                   std::function<std::int32_t(ISinglePlayer*)> call) {
      steps.push_back(Step{name, ownWorkAllocates, std::move(call)});
    };
    const std::uint32_t headerLength = static_cast<std::uint32_t>(stream.header.size());
    const std::uint32_t dataLength = static_cast<std::uint32_t>(stream.data.size());
    add("SetOverlayMode", true, [](ISinglePlayer* p) { return p->Play_SetOverlayMode(kPort, 0x00102030); });
    add("GetPreviewMode", false, [&](ISinglePlayer* p) { return p->Play_GetPreviewMode(kPort, &i32, &u32); });
    add("SetOpenMode", true, [](ISinglePlayer* p) { return p->Play_SetOpenMode(kPort, 0); });
    add("OpenStream", true, [&, headerLength](ISinglePlayer* p) {
      return p->Play_OpenStream(nullptr, kPort, stream.header.data(), headerLength, 0);
    });
    add("InputData", true, [&, dataLength](ISinglePlayer* p) {
      return p->Play_InputData(kPort, stream.data.data(), dataLength, 0);
    });
#if !defined(SP_OVER_STAND_IN)
    if (GetParam().level == 2 && !GetParam().arguments) {
      // Stepping, the decoder refuses the data once: the retry (after a
      // pause of 100 ms, hence at this one configuration only) goes on past
      // the refusal's record, and the stepping permit is used up. The first
      // request starts stepping, the second lets one block through.
      for (int request = 0; request < 2; ++request) {
        add("PlayState(one by one)", true,
            [](ISinglePlayer* p) { return p->Play_PlayState(kPort, PLAYSTATE_ONE_BY_ONE); });
      }
      add(kRefusedInput, true, [&, dataLength](ISinglePlayer* p) {
        failing_allocator::Disarm();  // the script's own allocations never fail
        fake_vdplay::FailCalls("VdPlay_InputData", 11, 1);
        failing_allocator::Rearm();
        return p->Play_InputData(kPort, stream.data.data(), dataLength, 0);
      });
    }
#endif
    add("PlayState(pause)", true, [](ISinglePlayer* p) { return p->Play_PlayState(kPort, PLAYSTATE_PAUSE); });
    add("PlayState(play)", true, [](ISinglePlayer* p) { return p->Play_PlayState(kPort, PLAYSTATE_PLAY); });
    add("GetPlayState", false, [&](ISinglePlayer* p) { return p->Play_GetPlayState(kPort, &i32); });
    add("SetVolume", true, [](ISinglePlayer* p) { return p->Play_SetVolume(kPort, 50); });
    add("GetVolume", false, [&](ISinglePlayer* p) { return p->Play_GetVolume(kPort, &i32); });
    add("GetPicture", true, [&](ISinglePlayer* p) { return p->Play_GetPicture(kPort, pictureFile.c_str()); });
    add("RefreshPlay", true, [](ISinglePlayer* p) { return p->Play_RefreshPlay(kPort); });
    add("GetHeadLen", true, [&](ISinglePlayer* p) { return p->Play_GetHeadLen(&u32); });
    add("GetPictureSize", true, [&](ISinglePlayer* p) { return p->Play_GetPictureSize(kPort, &i32, &i32); });
    add("SetPicQuality", true, [](ISinglePlayer* p) { return p->Play_SetPicQuality(kPort, 1); });
    add("GetPicQuality", false, [&](ISinglePlayer* p) { return p->Play_GetPicQuality(kPort, &i32); });
    add("ThrowFrame", true, [](ISinglePlayer* p) { return p->Play_ThrowFrame(kPort, 1); });
    add("GetThrowNum", false, [&](ISinglePlayer* p) { return p->Play_GetThrowNum(kPort, &i32); });
    add("SetVideoPara", true, [&](ISinglePlayer* p) { return p->Play_SetVideoPara(kPort, &para, 0); });
    add("GetVideoPara", false, [&](ISinglePlayer* p) { return p->Play_GetVideoPara(kPort, &para); });
    add("SetDispRegion", true, [&](ISinglePlayer* p) { return p->Play_SetDispRegion(kPort, 0, &rect); });
    add("GetDispRegion", false, [&](ISinglePlayer* p) { return p->Play_GetDispRegion(kPort, &rect); });
    add("ClearBuffer", true, [](ISinglePlayer* p) { return p->Play_ClearBuffer(kPort); });
    add("GetBufferRemainDataSize", true, [&](ISinglePlayer* p) { return p->Play_GetBufferRemainDataSize(kPort, &u32); });
    add("CloseStream", true, [](ISinglePlayer* p) { return p->Play_CloseStream(kPort); });
    add("SetOpenMode(-1)", false, [](ISinglePlayer* p) { return p->Play_SetOpenMode(-1, 0); });  // an own error record
    add("Exit", false, [](ISinglePlayer* p) { return p->Play_Exit(); });
  }

  // The fixed sequence; the player it ends with is returned (null when the
  // factory failed). The run's vectors are reserved beforehand and the
  // state is read without allocating, so the bookkeeping allocates nothing.
  ISinglePlayer* RunSequence(SequenceRun& run) {
    ISinglePlayer* p = CreateSinglePlayerDll();
    if (p == nullptr) return nullptr;
    run.initResult = p->Play_Init(0);
    para = SP_VIDEO_PARA{0, 60, 40, 50, 50, 0};
    rect = SP_RECT{0, 0, 0, 0};
    for (const Step& step : steps) {
      run.results.push_back(step.call(p));
      run.countedAfter.push_back(failing_allocator::Counted());
      run.states.push_back(ReadPortState(p, kPort));
      run.injectedBy.push_back(failing_allocator::Injected());
    }
    return p;
  }

  void RunFaultFree(SequenceRun& run) {
    run = SequenceRun{};
    run.Reserve();
    failing_allocator::Arm(LONG_MAX);  // counts, never fails
    ISinglePlayer* p = RunSequence(run);
    failing_allocator::Disarm();
    ASSERT_NE(p, nullptr);
    ReleaseSinglePlayerDll(p);
    RemoveLogs();
    ResetDecoder();
  }

  std::size_t IndexOf(const char* name) const {
    std::size_t i = 0;
    while (i < steps.size() && steps[i].name != std::string(name)) ++i;
    return i;
  }

  long AllocationsOf(const SequenceRun& run, std::size_t step) const {
    return run.countedAfter[step] - (step == 0 ? 0 : run.countedAfter[step - 1]);
  }

  // Whether the k-th allocation (1-based) of the step is one of its trace
  // records': the entry record's come before the body's, the result
  // record's after them, and both records allocate alike.
  bool IsTraceAllocation(std::size_t step, long k) const {
    const long traced = AllocationsOf(reference, step) - AllocationsOf(untraced, step);
    const long entry = GetParam().arguments ? traced / 2 : traced;
    const long exit = traced - entry;
    return k <= entry || k > AllocationsOf(reference, step) - exit;
  }

  // Whether the k-th allocation (1-based) of the step is one of its
  // records'. For the refused input the refusal's record lies amid its own
  // work: its trace record, the refused attempt, the refusal's record, then
  // the retry, which allocates what a plain input does.
  bool IsRecordAllocation(std::size_t step, long k) const {
    if (!steps[step].ownWorkAllocates) return true;
    if (steps[step].name != std::string(kRefusedInput)) return IsTraceAllocation(step, k);
    const std::size_t plain = IndexOf("InputData");
    const long trace = AllocationsOf(reference, plain) - AllocationsOf(untraced, plain);
    const long refused = AllocationsOf(untraced, step) - AllocationsOf(untraced, plain);
    const long record = AllocationsOf(reference, step) - AllocationsOf(untraced, step) - trace;
    return k <= trace || (k > trace + refused && k <= trace + refused + record);
  }

  // Compares a run, in which the n-th allocation failed once, with the
  // fault-free run. Until the failure every step matches. The failing step
  // matches too unless the failure hit its own work (then it returns what
  // its failing work gives: the allocation failure's result, or a decoder
  // call's failure); after a failure that cost only a record, every later
  // step matches as well. Steps whose own work allocates nothing match in
  // every run.
  void ExpectLikeTheFaultFreeRun(const SequenceRun& run, long n, Mode mode) {
    bool mustMatch = run.initResult == SP_OK;
    long before = 0;
    for (std::size_t i = 0; i < run.results.size(); ++i) {
      const Step& step = steps[i];
      const bool failedHere = run.injectedBy[i] && (i == 0 || !run.injectedBy[i - 1]);
      const std::string where = std::string("n=") + std::to_string(n) + " " + step.name + ", " +
                                Describe(GetParam());
      if (!step.ownWorkAllocates) {
        EXPECT_EQ(run.results[i], reference.results[i]) << where;
      }
      if (failedHere && mode == Mode::Once && mustMatch) {
        if (IsRecordAllocation(i, n - before)) {
          EXPECT_EQ(run.results[i], reference.results[i]) << where << " (a record's allocation)";
        } else if (run.results[i] != reference.results[i]) {
          mustMatch = false;  // its own work failed
        }
      } else if (failedHere) {
        mustMatch = false;  // from here on everything may fail
      }
      if (mustMatch) {
        EXPECT_EQ(run.results[i], reference.results[i]) << where;
        EXPECT_TRUE(run.states[i] == reference.states[i]) << where << ": the port's state differs";
      }
      before = run.countedAfter[i];
    }
  }

  // With allocation working again, the player (a new one when the factory
  // failed) plays a stream on a port of its own, with a decoder port of its
  // own.
  void ExpectWorkingPlayer(ISinglePlayer* p, long n) {
    if (p == nullptr) p = CreateSinglePlayerDll();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Play_Init(0), SP_OK);
    EXPECT_EQ(p->Play_SetOpenMode(kCheckPort, 0), SP_OK);
    const std::int32_t checkDecoderPort = player_probe::DecoderPortOf(p, kCheckPort);
    const std::int32_t sequenceDecoderPort = player_probe::DecoderPortOf(p, kPort);
    EXPECT_NE(checkDecoderPort, -1);
    if (sequenceDecoderPort != -1) {
      EXPECT_NE(checkDecoderPort, sequenceDecoderPort) << "n=" << n << ": two host ports share a decoder port";
    }
    EXPECT_EQ(p->Play_OpenStream(nullptr, kCheckPort, stream.header.data(),
                                 static_cast<std::uint32_t>(stream.header.size()), 0),
              SP_OK);
    EXPECT_EQ(p->Play_InputData(kCheckPort, stream.data.data(),
                                static_cast<std::uint32_t>(stream.data.size()), 0),
              SP_OK);
    std::int32_t state = 0;
    EXPECT_EQ(p->Play_GetPlayState(kCheckPort, &state), SP_OK);
    EXPECT_EQ(state, PLAYSTATE_PLAY);
    EXPECT_EQ(p->Play_CloseStream(kCheckPort), SP_OK);
  }

  void RemoveLogs() {
    for (const char* name : {"Vd_Player_Runtime.log", "Vd_Player_Error.log"}) {
      std::filesystem::remove(logDir + name);
    }
  }

  // Every log of the run parses into whole records; counts the records of
  // an allocation failure caught at an operation's boundary.
  void ExpectWholeRecords() {
    for (const char* name : {"Vd_Player_Runtime.log", "Vd_Player_Error.log"}) {
      bool ok = true;
      const auto records = sp_test::ReadLogRecords(logDir + name, ok);
      EXPECT_TRUE(ok) << name << " holds a broken record after " << records.size();
      ++logsChecked;
      for (const sp_test::LogRecord& record : records) {
        bool isError = true;
        const sp_test::ErrorRecord error = sp_test::ToErrorRecord(record, isError);
        if (isError && error.code == 6 && error.message == kAllocationFailed &&
            error.context.rfind("Play_", 0) == 0) {
          ++allocationRecords;
        }
      }
    }
    RemoveLogs();
  }

  // Runs the sequence with the n-th allocation failing, n = 1, 2, ...,
  // until a run injects nothing; returns the number of runs.
  long FailEachAllocationInTurn(Mode mode) {
    long n = 1;
    for (;; ++n) {
      SequenceRun run;
      run.Reserve();
      failing_allocator::Arm(n, mode);
      ISinglePlayer* p = RunSequence(run);
      failing_allocator::Disarm();

      for (std::size_t i = 0; i < run.results.size(); ++i) {
        EXPECT_TRUE(IsDefinedResult(run.results[i]))
            << "n=" << n << " step " << steps[i].name << ": " << run.results[i];
      }
      EXPECT_TRUE(run.initResult == SP_OK || run.initResult == SP_ERR_INIT) << "n=" << n;
      if (p != nullptr) ExpectLikeTheFaultFreeRun(run, n, mode);
      ExpectWorkingPlayer(p, n);

      // The release, counted and failed like the rest.
      failing_allocator::Rearm();
      ReleaseSinglePlayerDll(p == nullptr ? CreateSinglePlayerDll() : p);
      failing_allocator::Disarm();
      ReleaseSinglePlayerDll(CreateSinglePlayerDll());  // whatever a failed release left

      ExpectWholeRecords();
      ResetDecoder();
      if (!failing_allocator::Injected()) break;
      if (::testing::Test::HasFailure()) break;  // one broken run tells enough
    }
    return n;
  }

  Stream stream = MakeStream();
  std::vector<Step> steps;
  SequenceRun reference;  // fault-free, at the tested configuration
  SequenceRun untraced;   // fault-free, at level 0
  std::int32_t i32 = 0;
  std::uint32_t u32 = 0;
  SP_VIDEO_PARA para = {0, 60, 40, 50, 50, 0};
  SP_RECT rect = {0, 0, 0, 0};
  std::string root;
  std::string logDir;
  std::string pictureFile = sp_test::IsolatedFolder() + "picture.bmp";
  long logsChecked = 0;
  long allocationRecords = 0;
};

TEST_P(AllocationFailure, EachAllocationFailingOnceCostsAtMostItsOwnWork) {
  const long runs = FailEachAllocationInTurn(Mode::Once);
  std::printf("allocation failure, " SP_DECODER_NAME
              ", %s, each allocation once: %ld runs, %ld logs checked whole, "
              "%ld records of a caught allocation failure\n",
              Describe(GetParam()).c_str(), runs, logsChecked, allocationRecords);
  EXPECT_GT(runs, 20);
  // Where the operation's own work failed, the failure is in the log.
  EXPECT_GT(allocationRecords, 0);
}

TEST_P(AllocationFailure, AllocationsFailingFromSomePointOnGiveDefinedResults) {
  const long runs = FailEachAllocationInTurn(Mode::FromThenOn);
  std::printf("allocation failure, " SP_DECODER_NAME
              ", %s, every allocation from the n-th on: %ld runs, %ld logs checked "
              "whole\n",
              Describe(GetParam()).c_str(), runs, logsChecked);
  EXPECT_GT(runs, 20);
}

INSTANTIATE_TEST_SUITE_P(Tracings, AllocationFailure,
                         ::testing::Values(Tracing{1, false}, Tracing{2, false}, Tracing{2, true}),
                         [](const ::testing::TestParamInfo<Tracing>& info) {
                           return "Level" + std::to_string(info.param.level) +
                                  (info.param.arguments ? "WithArguments" : "");
                         });

}  // namespace
