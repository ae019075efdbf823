#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log/LogFile.h"
#include "platform/Platform.h"
#include "support/TempDir.h"
#include "support/TestIsolation.h"

namespace {

using sp::LogFile;
using sp_test::ReadFile;
using sp_test::TempDir;

sp::platform::LocalTime At(int month, int day, int hour, int minute, int second, int ms) {
  sp::platform::LocalTime t;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = ms;
  return t;
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sp::platform::testing::OverrideClock([] { return At(12, 7, 9, 5, 3, 47); });
  }
  void TearDown() override {
    sp::platform::testing::OverrideClock(nullptr);
    sp_test::UseIsolatedSystemDirectory();
    sp::testing::SetLogRotationBytes(0);
  }
  TempDir dir;
};

const char kTraceRecord[] = "\r\n[12-07 09:05:03.04]\r\nL1:[V1]\r\nL2:[V2]\r\n:[]\r\n";

TEST_F(LogFileTest, TraceRecordLayoutIsExactWithCrLfAndNoBom) {
  LogFile log;
  log.SetRuntimeLogPath(dir.File("run.log"));
  log.WriteTrace("L1", "V1", "L2", "V2", "", "");
  EXPECT_EQ(ReadFile(dir.File("run.log")), kTraceRecord);
  log.WriteTrace("L1", "V1", "L2", "V2", "", "");
  EXPECT_EQ(ReadFile(dir.File("run.log")), std::string(kTraceRecord) + kTraceRecord);
}

TEST_F(LogFileTest, TimestampHasMonthDayAndHundredthsRoundedDown) {
  EXPECT_EQ(sp::FormatLogTimestamp(12, 7, 9, 5, 3, 47), "12-07 09:05:03.04");
  EXPECT_EQ(sp::FormatLogTimestamp(1, 1, 0, 0, 0, 9), "01-01 00:00:00.00");
  EXPECT_EQ(sp::FormatLogTimestamp(10, 31, 23, 59, 59, 999), "10-31 23:59:59.99");
  EXPECT_EQ(sp::FormatLogTimestamp(1, 1, 0, 0, 0, 9).size(), 17u);
}

TEST_F(LogFileTest, RealClockGivesPlausibleTimestamp) {
  sp::platform::testing::OverrideClock(nullptr);
  const sp::platform::LocalTime now = sp::platform::LocalNow();
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.millisecond, 999);
}

TEST_F(LogFileTest, ErrorRecordNamesOnlyTheLastPathComponent) {
  LogFile log;
  log.SetErrorLogPath(dir.File("err.log"));
  log.WriteError("c:\\work\\src\\Player.cpp", 42, -1, "");
  log.WriteError("Plain.cpp", 7, 3, "text");
  log.WriteError("/a/b/c.cpp", 1, 0, "x");
  EXPECT_EQ(ReadFile(dir.File("err.log")),
            "\r\n[12-07 09:05:03.04]\r\nErrCode:[-1]\r\nContext:[Source File: [Player.cpp], "
            "LINE: [42]]\r\nErrString:[]\r\n"
            "\r\n[12-07 09:05:03.04]\r\nErrCode:[3]\r\nContext:[Source File: [Plain.cpp], "
            "LINE: [7]]\r\nErrString:[text]\r\n"
            "\r\n[12-07 09:05:03.04]\r\nErrCode:[0]\r\nContext:[Source File: [c.cpp], "
            "LINE: [1]]\r\nErrString:[x]\r\n");
}

TEST_F(LogFileTest, ContextIsCutTo255Bytes) {
  LogFile log;
  log.SetErrorLogPath(dir.File("err.log"));
  const std::string longName(400, 'n');
  log.WriteError(longName, 1, 0, "t");
  const std::string text = ReadFile(dir.File("err.log"));
  const std::string::size_type begin = text.find("Context:[") + 9;
  const std::string::size_type end = text.find("]\r\nErrString");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - begin, 255u);
  EXPECT_EQ(text.substr(begin, 14), "Source File: [");
}

TEST_F(LogFileTest, MessageAndContextSpanTwoLines) {
  LogFile log;
  log.SetErrorLogPath(dir.File("err.log"));
  log.WriteErrorWithContext("f.cpp", 9, 2, "\xce\xb4\xd6\xaa\xb4\xed\xce\xf3", "VdPlay_Play()");
  const std::string text = ReadFile(dir.File("err.log"));
  EXPECT_NE(text.find("ErrString:[\xce\xb4\xd6\xaa\xb4\xed\xce\xf3\r\nVdPlay_Play()]\r\n"),
            std::string::npos);
  log.WriteErrorWithContext("f.cpp", 9, 2, "m", "");
  EXPECT_NE(ReadFile(dir.File("err.log")).find("ErrString:[m\r\n]\r\n"), std::string::npos);
}

TEST_F(LogFileTest, EmptyPathsGiveBareFileNames) {
  LogFile log;
  log.SetRuntimeLogPath("");
  log.SetErrorLogPath("");
  EXPECT_EQ(log.RuntimeLogPath(), "q38_runtime.log");
  EXPECT_EQ(log.ErrorLogPath(), "q38_error.log");
}

TEST_F(LogFileTest, DefaultPathsFollowTheSystemDrive) {
#if defined(_WIN32)
  sp::platform::testing::OverrideSystemDirectory(std::string("D:\\WINDOWS\\system32"));
  EXPECT_EQ(LogFile().RuntimeLogPath(), "D:/q38/q38_runtime.log");
  EXPECT_EQ(LogFile().ErrorLogPath(), "D:/q38/q38_error.log");
#else
  sp::platform::testing::OverrideSystemDirectory(dir.Slashed());
  EXPECT_EQ(LogFile().RuntimeLogPath(), dir.Slashed() + "q38/q38_runtime.log");
  EXPECT_EQ(LogFile().ErrorLogPath(), dir.Slashed() + "q38/q38_error.log");
#endif
  sp::platform::testing::OverrideSystemDirectory(std::nullopt);
  EXPECT_EQ(LogFile().RuntimeLogPath(), "c:/q38/q38_runtime.log");
  EXPECT_EQ(LogFile().ErrorLogPath(), "c:/q38/q38_error.log");
}

TEST_F(LogFileTest, MissingFolderLosesTheRecordSilently) {
  LogFile log;
  log.SetRuntimeLogPath(dir.File("missing/run.log"));
  log.WriteTrace("a", "b", "", "", "", "");
  EXPECT_FALSE(sp_test::Exists(dir.File("missing")));
}

// Fills the file so that one more record of `recordSize` bytes leaves it at
// exactly `finalSize`.
void FillFile(const std::string& path, long finalSize, long recordSize) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  const std::vector<char> block(1 << 20, 'x');
  long remaining = finalSize - recordSize;
  while (remaining > 0) {
    const long chunk = remaining < static_cast<long>(block.size()) ? remaining : block.size();
    std::fwrite(block.data(), 1, chunk, file);
    remaining -= chunk;
  }
  std::fclose(file);
}

TEST_F(LogFileTest, RotatesOnlyPastTwentyMebibytesReplacingTheOldBackup) {
  const std::string path = dir.File("run.log");
  const long recordSize = static_cast<long>(sizeof kTraceRecord - 1);
  LogFile log;
  log.SetRuntimeLogPath(path);

  FillFile(path, sp::kLogRotationBytes, recordSize);
  log.WriteTrace("L1", "V1", "L2", "V2", "", "");
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(sp::kLogRotationBytes));
  EXPECT_FALSE(sp_test::Exists(path + ".bak"));

  sp_test::WriteFile(path + ".bak", "older generation");
  FillFile(path, sp::kLogRotationBytes + 1, recordSize);
  log.WriteTrace("L1", "V1", "L2", "V2", "", "");
  EXPECT_FALSE(sp_test::Exists(path));
  EXPECT_EQ(std::filesystem::file_size(path + ".bak"),
            static_cast<std::uintmax_t>(sp::kLogRotationBytes + 1));

  log.WriteTrace("L1", "V1", "L2", "V2", "", "");
  EXPECT_EQ(ReadFile(path), kTraceRecord);
}

TEST_F(LogFileTest, ConcurrentRecordsStayWhole) {
  sp::testing::SetLogRotationBytes(4000);
  const std::string path = dir.File("run.log");
  LogFile log;
  log.SetRuntimeLogPath(path);
  constexpr int kThreads = 4;
  constexpr int kRecords = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kRecords; ++i) {
        log.WriteTrace("T" + std::to_string(t), std::to_string(i), "", "", "", "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Only the live file and one backup survive; both must hold whole records.
  for (const std::string& file : {path, path + ".bak"}) {
    const std::string text = ReadFile(file);
    std::string::size_type at = 0;
    while (at < text.size()) {
      const std::string::size_type end = text.find(":[]\r\n:[]\r\n", at);
      ASSERT_NE(end, std::string::npos) << "torn record in " << file;
      ASSERT_EQ(text.compare(at, 24, "\r\n[12-07 09:05:03.04]\r\nT"), 0) << file;
      at = end + 10;
    }
  }
}

TEST(NormalizeDirPath, SlashesAndOneTrailingSeparator) {
  std::string empty;
  EXPECT_EQ(sp::NormalizeDirPath(empty), "");
  std::string slashed = "d:/logs/";
  EXPECT_EQ(sp::NormalizeDirPath(slashed), "d:/logs/");
  std::string drive = "d:\\logs\\player";
  EXPECT_EQ(sp::NormalizeDirPath(drive), "d:/logs/player/");
  EXPECT_EQ(drive, "d:/logs/player/");
  std::string mixed = "a\\b/c\\";
  EXPECT_EQ(sp::NormalizeDirPath(mixed), "a/b/c/");
}

}  // namespace
