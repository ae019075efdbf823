// Allocation failure at every allocation point of a fixed sequence over the
// 26 operations and both exports: the n-th allocation of the calling thread
// fails, for n = 1, 2, 3, ... until a run completes with none failed. In
// every run nothing crashes or escapes, every result is one the interface
// defines, every log holds whole records only, and once allocations succeed
// again the player (or a new one) works. Built twice: over the fake decoder
// and over the stand-in decoder, whose exported functions must not throw
// either.
#include <SinglePlayer.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "FailingAllocator.h"
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

// What the operations may return: success, the player's own codes and the
// error table's results.
bool IsDefinedResult(std::int32_t result) {
  return result == 0 || (result >= 2 && result <= 24) || result == 26;
}

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

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!failing_allocator::InEffect()) GTEST_SKIP() << "the allocator cannot be replaced here";
    root = sp_test::IsolatedFolder() + "root/";
    logDir = sp_test::IsolatedFolder() + "logs/";
    std::filesystem::create_directories(root + "q38/cfg");
    // Level 3: every operation writes two trace records, so that allocation
    // points of the records take part too.
    std::FILE* config = std::fopen((root + "q38/cfg/Q38.cfg").c_str(), "wb");
    ASSERT_NE(config, nullptr);
    std::fprintf(config, "[GLOBAL]\n[TRACE_PATH][%s]\n[DEBUG_LEVEL][3]\n", logDir.c_str());
    std::fclose(config);
    ResetDecoder();
  }
  void TearDown() override { ResetDecoder(); }

  // The fixed sequence; the player it ends with is returned (null when the
  // factory failed). Results go to `results`, reserved beforehand so the
  // sequence's own bookkeeping allocates nothing.
  ISinglePlayer* RunSequence(std::vector<std::int32_t>& results, std::int32_t& initResult) {
    ISinglePlayer* p = CreateSinglePlayerDll();
    if (p == nullptr) return nullptr;
    initResult = p->Play_Init(0);
    std::int32_t i32 = 0;
    std::uint32_t u32 = 0;
    SP_VIDEO_PARA para = {0, 60, 40, 50, 50, 0};
    SP_RECT rect = {0, 0, 0, 0};
    auto record = [&](std::int32_t result) { results.push_back(result); };
    record(p->Play_SetOverlayMode(kPort, 0x00102030));
    record(p->Play_GetPreviewMode(kPort, &i32, &u32));
    record(p->Play_SetOpenMode(kPort, 0));
    record(p->Play_OpenStream(nullptr, kPort, stream.header.data(),
                              static_cast<std::uint32_t>(stream.header.size()), 0));
    record(p->Play_InputData(kPort, stream.data.data(),
                             static_cast<std::uint32_t>(stream.data.size()), 0));
    record(p->Play_PlayState(kPort, PLAYSTATE_PAUSE));
    record(p->Play_PlayState(kPort, PLAYSTATE_PLAY));
    record(p->Play_GetPlayState(kPort, &i32));
    record(p->Play_SetVolume(kPort, 50));
    record(p->Play_GetVolume(kPort, &i32));
    record(p->Play_GetPicture(kPort, pictureFile.c_str()));
    record(p->Play_RefreshPlay(kPort));
    record(p->Play_GetHeadLen(&u32));
    record(p->Play_GetPictureSize(kPort, &i32, &i32));
    record(p->Play_SetPicQuality(kPort, 1));
    record(p->Play_GetPicQuality(kPort, &i32));
    record(p->Play_ThrowFrame(kPort, 1));
    record(p->Play_GetThrowNum(kPort, &i32));
    record(p->Play_SetVideoPara(kPort, &para, 0));
    record(p->Play_GetVideoPara(kPort, &para));
    record(p->Play_SetDispRegion(kPort, 0, &rect));
    record(p->Play_GetDispRegion(kPort, &rect));
    record(p->Play_ClearBuffer(kPort));
    record(p->Play_GetBufferRemainDataSize(kPort, &u32));
    record(p->Play_CloseStream(kPort));
    record(p->Play_SetOpenMode(-1, 0));  // an own error record
    record(p->Play_Exit());
    return p;
  }

  // With allocation working again, the player (a new one when the factory
  // failed) plays a stream on a port of its own.
  void ExpectWorkingPlayer(ISinglePlayer* p) {
    if (p == nullptr) p = CreateSinglePlayerDll();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Play_Init(0), SP_OK);
    EXPECT_EQ(p->Play_SetOpenMode(kCheckPort, 0), SP_OK);
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
      std::filesystem::remove(logDir + name);
    }
  }

  // Runs the sequence with the n-th allocation failing, n = 1, 2, ...,
  // until a run injects nothing; returns the number of runs.
  long FailEachAllocationInTurn(Mode mode) {
    long n = 1;
    for (;; ++n) {
      std::vector<std::int32_t> results;
      results.reserve(64);
      std::int32_t initResult = SP_OK;
      failing_allocator::Arm(n, mode);
      ISinglePlayer* p = RunSequence(results, initResult);
      failing_allocator::Disarm();

      for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_TRUE(IsDefinedResult(results[i]))
            << "n=" << n << " step " << i << ": " << results[i];
      }
      EXPECT_TRUE(initResult == SP_OK || initResult == SP_ERR_INIT) << "n=" << n;
      ExpectWorkingPlayer(p);

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
  std::string root;
  std::string logDir;
  std::string pictureFile = sp_test::IsolatedFolder() + "picture.bmp";
  long logsChecked = 0;
  long allocationRecords = 0;
};

TEST_F(AllocationFailure, EachAllocationFailingOnceGivesDefinedResults) {
  const long runs = FailEachAllocationInTurn(Mode::Once);
  std::printf("allocation failure, " SP_DECODER_NAME
              ", each allocation once: %ld runs, %ld logs checked whole, "
              "%ld records of a caught allocation failure\n",
              runs, logsChecked, allocationRecords);
  EXPECT_GT(runs, 20);
  // Where the record could still be written, the failure is in the log.
  EXPECT_GT(allocationRecords, 0);
}

TEST_F(AllocationFailure, AllocationsFailingFromSomePointOnGiveDefinedResults) {
  const long runs = FailEachAllocationInTurn(Mode::FromThenOn);
  std::printf("allocation failure, " SP_DECODER_NAME
              ", every allocation from the n-th on: %ld runs, %ld logs checked "
              "whole\n",
              runs, logsChecked);
  EXPECT_GT(runs, 20);
}

}  // namespace
