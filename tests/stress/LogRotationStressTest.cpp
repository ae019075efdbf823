// Eight threads write 5,000 records each into one log through rotation. The
// records are serialised by the log's process-wide lock, so with records of
// one fixed length the rotations fall after a known number of records:
// every k-th record (k = threshold / length + 1) moves the file to ".bak",
// replacing the older ".bak". What survives is therefore known exactly, and
// each thread's surviving records must be an unbroken run up to its last.
#include <gtest/gtest.h>

#include <SinglePlayer.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log/LogFile.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRecordsPerThread = 5000;
constexpr int kTotal = kThreads * kRecordsPerThread;

// Labels and values of fixed width, so every record has the same length.
const std::string kFiller(40, 'x');

void WriteOne(const std::string& path, int thread, int sequence) {
  char threadText[8];
  char sequenceText[8];
  std::snprintf(threadText, sizeof threadText, "%d", thread);
  std::snprintf(sequenceText, sizeof sequenceText, "%05d", sequence);
  sp::LogFile::WriteRecord(path, "T", threadText, "S", sequenceText, "X", kFiller);
}

std::size_t RecordLength(const std::string& scratch) {
  WriteOne(scratch, 0, 0);
  return static_cast<std::size_t>(std::filesystem::file_size(scratch));
}

void WriteFromThreads(const std::string& path) {
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&path, t] {
      for (int s = 0; s < kRecordsPerThread; ++s) WriteOne(path, t, s);
    });
  }
  for (std::thread& writer : writers) writer.join();
}

struct Found {
  int thread;
  int sequence;
};

// The records of one file, in file order; each must be one of ours.
std::vector<Found> ReadFile(const std::string& path) {
  std::vector<Found> found;
  if (!sp_test::Exists(path)) return found;
  for (const sp_test::LogRecord& record : sp_test::ReadWholeRecords(path)) {
    EXPECT_EQ(record.label[0], "T");
    EXPECT_EQ(record.label[1], "S");
    EXPECT_EQ(record.value[2], kFiller);
    found.push_back({std::atoi(record.value[0].c_str()), std::atoi(record.value[1].c_str())});
  }
  return found;
}

// The .bak generation precedes the live file, and each thread's records
// appear in the order it wrote them, without gaps, ending with its last.
void ExpectUnbrokenRuns(const std::vector<Found>& backup, const std::vector<Found>& live) {
  std::map<int, std::vector<int>> perThread;
  for (const Found& f : backup) perThread[f.thread].push_back(f.sequence);
  for (const Found& f : live) perThread[f.thread].push_back(f.sequence);
  for (const auto& [thread, sequences] : perThread) {
    ASSERT_GE(thread, 0);
    ASSERT_LT(thread, kThreads);
    for (std::size_t i = 1; i < sequences.size(); ++i) {
      ASSERT_EQ(sequences[i], sequences[i - 1] + 1) << "thread " << thread << " lost a record";
    }
    EXPECT_EQ(sequences.back(), kRecordsPerThread - 1) << "thread " << thread;
  }
}

class LogRotationStress : public ::testing::Test {
 protected:
  void TearDown() override { sp::testing::SetLogRotationBytes(0); }
  sp_test::TempDir dir;
};

TEST_F(LogRotationStress, ManySmallRotationsKeepWholeRecordsAndExactCounts) {
  const std::size_t length = RecordLength(dir.File("scratch.log"));
  const long threshold = 4096;
  sp::testing::SetLogRotationBytes(threshold);
  const std::string path = dir.File("busy.log");

  WriteFromThreads(path);

  const int perGeneration = static_cast<int>(threshold / static_cast<long>(length)) + 1;
  const int rotations = kTotal / perGeneration;
  ASSERT_GE(rotations, 100) << "the threshold must force many rotations";
  const std::vector<Found> backup = ReadFile(path + ".bak");
  const std::vector<Found> live = ReadFile(path);
  EXPECT_EQ(static_cast<int>(backup.size()), perGeneration);
  EXPECT_EQ(static_cast<int>(live.size()), kTotal % perGeneration);
  // Every record is accounted for: the ones still here plus exactly one
  // generation for each rotation but the last, which replaced them.
  EXPECT_EQ(static_cast<int>(backup.size() + live.size()) + (rotations - 1) * perGeneration,
            kTotal);
  ExpectUnbrokenRuns(backup, live);
  std::printf("[ figures  ] %d records from %d threads, %d rotations: %zu read back whole, "
              "%d replaced with the older generations\n",
              kTotal, kThreads, rotations, backup.size() + live.size(),
              (rotations - 1) * perGeneration);
}

TEST_F(LogRotationStress, OneRotationKeepsEveryRecordOfEveryThread) {
  const std::size_t length = RecordLength(dir.File("scratch.log"));
  // Just over half of all the bytes: exactly one rotation, after which the
  // rest fits below the threshold, so nothing is replaced.
  const long threshold = static_cast<long>(length) * (kTotal / 2) + static_cast<long>(length) / 2;
  sp::testing::SetLogRotationBytes(threshold);
  const std::string path = dir.File("busy.log");

  WriteFromThreads(path);

  const std::vector<Found> backup = ReadFile(path + ".bak");
  const std::vector<Found> live = ReadFile(path);
  EXPECT_EQ(static_cast<int>(backup.size()), kTotal / 2 + 1);
  EXPECT_EQ(static_cast<int>(live.size()), kTotal / 2 - 1);
  std::vector<int> seen(kTotal, 0);
  for (const std::vector<Found>* file : {&backup, &live}) {
    for (const Found& f : *file) ++seen[f.thread * kRecordsPerThread + f.sequence];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kTotal) << "every record exactly once";
  ExpectUnbrokenRuns(backup, live);
  std::printf("[ figures  ] %d records from %d threads, one rotation: %zu read back whole\n",
              kTotal, kThreads, backup.size() + live.size());
}

}  // namespace
