// Allocation failure in Play_Init and in the log writer: a failed Play_Init
// changes nothing, and a record that cannot be built leaves no file open,
// throws nothing and keeps the log whole and rotating.
#include <SinglePlayer.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "FailingAllocator.h"
#include "log/LogFile.h"
#include "player/SinglePlayer.h"
#include "support/LogRecords.h"
#include "support/TestIsolation.h"

namespace {

namespace fs = std::filesystem;
using failing_allocator::Mode;

void WriteText(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

// The process's open file descriptors (opendir allocates: call it disarmed).
int OpenDescriptors() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int count = 0;
  while (readdir(folder) != nullptr) ++count;
  closedir(folder);
  return count;
}

struct InitFields {
  std::string traceDir;
  std::string runtimeLog;
  std::string errorLog;
  std::int32_t debugLevel;
  bool tracesArguments;
  std::int32_t hostValue;

  bool operator==(const InitFields& other) const {
    return traceDir == other.traceDir && runtimeLog == other.runtimeLog &&
           errorLog == other.errorLog && debugLevel == other.debugLevel &&
           tracesArguments == other.tracesArguments && hostValue == other.hostValue;
  }
};

InitFields FieldsOf(ISinglePlayer* player) {
  const sp::SinglePlayer& impl = *static_cast<sp::SinglePlayer*>(player);
  return InitFields{impl.TraceDir(),   impl.Log().RuntimeLogPath(), impl.Log().ErrorLogPath(),
                    impl.DebugLevel(), impl.TracesArguments(),      impl.HostValue()};
}

TEST(InitAllocationFailure, AFailedInitLeavesEveryFieldAndFolderAsItWas) {
  if (!failing_allocator::InEffect()) GTEST_SKIP() << "the allocator cannot be replaced here";
  const std::string root = sp_test::IsolatedFolder() + "root/";
  const std::string config = root + "q38/cfg/Q38.cfg";
  const std::string oldFolder = sp_test::IsolatedFolder() + "old/";
  const std::string newFolder = sp_test::IsolatedFolder() + "new/logs/";
  fs::create_directories(root + "q38/cfg");
  const std::string oldConfig =
      "[GLOBAL]\n[TRACE_PATH][" + oldFolder + "]\n[DEBUG_LEVEL][1]\n";
  const std::string newConfig = "[GLOBAL]\n[TRACE_PATH][" + newFolder +
                                "]\n[DEBUG_LEVEL][2]\n[TRACE_ARGUMENTS][1]\n";

  ISinglePlayer* player = CreateSinglePlayerDll();
  ASSERT_NE(player, nullptr);
  long failures = 0;
  for (long n = 1;; ++n) {
    WriteText(config, oldConfig);
    ASSERT_EQ(player->Play_Init(7), SP_OK);
    const InitFields before = FieldsOf(player);
    fs::remove_all(sp_test::IsolatedFolder() + "new");
    WriteText(config, newConfig);

    failing_allocator::Arm(n);
    const std::int32_t result = player->Play_Init(8);
    failing_allocator::Disarm();
    if (result == SP_ERR_INIT) {
      ++failures;
      EXPECT_TRUE(FieldsOf(player) == before) << "n=" << n << ": a failed Play_Init changed a field";
      EXPECT_FALSE(fs::exists(newFolder)) << "n=" << n << ": a failed Play_Init made the folder";
    } else {
      // Applied whole (a configuration file that could not be read for
      // want of memory counts as missing: the fallback folder).
      ASSERT_EQ(result, SP_OK) << "n=" << n;
      const InitFields after = FieldsOf(player);
      EXPECT_EQ(after.runtimeLog, after.traceDir + "Vd_Player_Runtime.log") << "n=" << n;
      EXPECT_EQ(after.errorLog, after.traceDir + "Vd_Player_Error.log") << "n=" << n;
      EXPECT_EQ(after.hostValue, 8) << "n=" << n;
    }
    if (!failing_allocator::Injected() || ::testing::Test::HasFailure()) break;
  }
  ReleaseSinglePlayerDll(player);
  EXPECT_GT(failures, 3);
}

TEST(RecordAllocationFailure, AFailedRecordThrowsNothingLeavesNoFileOpenAndTheLogRotates) {
  if (!failing_allocator::InEffect()) GTEST_SKIP() << "the allocator cannot be replaced here";
  const std::string path = sp_test::IsolatedFolder() + "trace.log";
  sp::LogFile log;
  log.SetRuntimeLogPath(path);
  log.WriteTrace("warm", "up", "", "", "", "");
  // Longer than any record before it, so that building it must allocate.
  const std::string longValue(200000, 'v');
  const std::string label = "label";
  const std::string empty;
  const int descriptors = OpenDescriptors();
  long dropped = 0;
  for (long n = 1;; ++n) {
    bool threw = false;
    failing_allocator::Arm(n);
    try {
      log.WriteTrace(label, longValue, empty, empty, empty, empty);
    } catch (...) {
      threw = true;
    }
    failing_allocator::Disarm();
    EXPECT_FALSE(threw) << "n=" << n << ": the record's allocation failure escaped";
    EXPECT_EQ(OpenDescriptors(), descriptors) << "n=" << n << ": a log file was left open";
    if (!failing_allocator::Injected() || ::testing::Test::HasFailure()) break;
    ++dropped;
  }
  EXPECT_GT(dropped, 0);
  bool ok = true;
  const auto records = sp_test::ReadLogRecords(path, ok);
  EXPECT_TRUE(ok) << "a broken record";
  EXPECT_GE(records.size(), 2u);

  // Rotation works as before the failures.
  sp::testing::SetLogRotationBytes(1000);
  log.WriteTrace(label, "rotate", empty, empty, empty, empty);
  sp::testing::SetLogRotationBytes(0);
  EXPECT_TRUE(fs::exists(path + ".bak"));
  EXPECT_FALSE(fs::exists(path));
  log.WriteTrace(label, "fresh", empty, empty, empty, empty);
  EXPECT_EQ(sp_test::ReadLogRecords(path, ok).size(), 1u);
}

}  // namespace
