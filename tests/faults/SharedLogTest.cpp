// Two processes appending to one log at the same time, through its
// rotation, as hosts sharing the machine's configuration do: every record
// ends up whole, exactly once, in the log or its rotated generation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/LogRecords.h"
#include "support/TestIsolation.h"

namespace {

constexpr int kRecordsPerProcess = 400;
// About 160 bytes a record, 800 records: the log rotates once, and the
// fresh log stays below the threshold, so no generation is replaced.
constexpr long kRotationBytes = 80000;

// The command that runs the writer; under Windows (natively or under Wine)
// through the command interpreter, which wants drive paths.
std::string WriterCommand(const std::string& path, const char* tag) {
  std::string program = LOG_WRITER_PROGRAM;
  std::string log = path;
#if defined(_WIN32)
  for (std::string* text : {&program, &log}) {
    if (!text->empty() && text->front() == '/') *text = "Z:" + *text;
    for (char& c : *text) {
      if (c == '/') c = '\\';
    }
  }
#endif
  std::string command = "\"" + program + "\" \"" + log + "\" " + tag + " " +
                        std::to_string(kRecordsPerProcess) + " " + std::to_string(kRotationBytes);
#if defined(_WIN32)
  command = "\"" + command + "\"";  // the interpreter drops the outer pair
#endif
  return command;
}

TEST(SharedLog, TwoProcessesWritingOneLogThroughRotationLoseAndSplitNoRecord) {
#if defined(_WIN32)
  const int rounds = 2;  // each process start takes long under Wine
#else
  const int rounds = 20;
#endif
  for (int round = 0; round < rounds; ++round) {
    const std::string path = sp_test::IsolatedFolder() + "shared" + std::to_string(round) + ".log";
    int results[2] = {-1, -1};
    std::thread first([&] { results[0] = std::system(WriterCommand(path, "A").c_str()); });
    std::thread second([&] { results[1] = std::system(WriterCommand(path, "B").c_str()); });
    first.join();
    second.join();
    ASSERT_EQ(results[0], 0);
    ASSERT_EQ(results[1], 0);

    ASSERT_TRUE(std::filesystem::exists(path + ".bak")) << "round " << round << ": no rotation";
    std::map<std::string, int> seen;
    for (const std::string& file : {path + ".bak", path}) {
      bool ok = true;
      for (const sp_test::LogRecord& record : sp_test::ReadLogRecords(file, ok)) {
        ++seen[record.value[0] + "/" + record.value[1]];
        EXPECT_EQ(record.value[2].size(), 100u + std::stoul(record.value[1]) % 7);
      }
      EXPECT_TRUE(ok) << "round " << round << ": " << file << " holds a broken record";
    }
    int lost = 0;
    int repeated = 0;
    for (const char* tag : {"A", "B"}) {
      for (int i = 0; i < kRecordsPerProcess; ++i) {
        const auto found = seen.find(std::string(tag) + "/" + std::to_string(i));
        if (found == seen.end()) {
          ++lost;
        } else if (found->second != 1) {
          ++repeated;
        }
      }
    }
    EXPECT_EQ(lost, 0) << "round " << round;
    EXPECT_EQ(repeated, 0) << "round " << round;
    EXPECT_EQ(seen.size(), 2u * kRecordsPerProcess) << "round " << round;
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
