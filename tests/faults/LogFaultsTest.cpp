// The log's folder and file failing under a running player: the folder
// removed, made read-only, the file-size limit reached, the rotation's rename
// refused. Every operation keeps its result, no record is half-written, and
// records resume once the fault is gone.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/PlayerTestFixture.h"
#include "log/LogFile.h"

namespace sp_test {
namespace {

namespace fs = std::filesystem;

class LogFaultTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Init(1);
    Playing(5);
  }
  void TearDown() override {
    sp::testing::SetLogRotationBytes(0);
    PlayerTest::TearDown();
  }
  static void TearDownTestSuite() {
    std::printf("log faults: %ld records checked whole after the faults\n", recordsChecked);
  }

  std::string RuntimeLog() const { return logDir + "Vd_Player_Runtime.log"; }
  std::string ErrorLog() const { return logDir + "Vd_Player_Error.log"; }

  // Three trace records and, for the bad port, one error record, each
  // operation with its normal result.
  void OperateNormally() {
    EXPECT_EQ(player->Play_SetVolume(5, 50), SP_OK);
    EXPECT_EQ(player->Play_SetOpenMode(-1, 0), SP_ERR_PARAM);
    std::int32_t state = 0;
    EXPECT_EQ(player->Play_GetPlayState(5, &state), SP_OK);
    EXPECT_EQ(state, PLAYSTATE_PLAY);
  }

  // Both logs hold whole records only, this many of each.
  void ExpectRecords(std::size_t traces, std::size_t errors) {
    EXPECT_EQ(Traces().size(), traces);
    EXPECT_EQ(Errors().size(), errors);
    recordsChecked += static_cast<long>(traces + errors);
  }

  static long recordsChecked;
};

long LogFaultTest::recordsChecked = 0;

TEST_F(LogFaultTest, TraceFolderRemovedWhileThePlayerRuns) {
  fs::remove_all(logDir);
  OperateNormally();
  EXPECT_FALSE(sp_test::Exists(logDir)) << "the log never creates its folder";
  fs::create_directories(logDir);
  OperateNormally();
  ExpectRecords(3, 1);
}

TEST_F(LogFaultTest, RenameRefusedLeavesTheLogGrowingAndIsRetriedLater) {
  sp::testing::SetLogRotationBytes(300);
  // A non-empty folder where the rotated file would go: the rename fails.
  fs::create_directories(RuntimeLog() + ".bak/kept");
  for (int i = 0; i < 5; ++i) OperateNormally();
  EXPECT_GT(fs::file_size(RuntimeLog()), 300u);
  EXPECT_EQ(Traces().size(), 15u);
  EXPECT_TRUE(fs::is_directory(RuntimeLog() + ".bak"));

  fs::remove_all(RuntimeLog() + ".bak");
  EXPECT_EQ(player->Play_SetVolume(5, 50), SP_OK);  // the next record rotates
  EXPECT_FALSE(sp_test::Exists(RuntimeLog()));
  bool ok = true;
  EXPECT_EQ(sp_test::ReadLogRecords(RuntimeLog() + ".bak", ok).size(), 16u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(player->Play_SetVolume(5, 50), SP_OK);
  EXPECT_EQ(Traces().size(), 1u);
}

#if !defined(_WIN32)

TEST_F(LogFaultTest, FileSizeLimitReachedLeavesNoHalfRecord) {
  OperateNormally();
  const auto runtimeSize = fs::file_size(RuntimeLog());
  const auto errorSize = fs::file_size(ErrorLog());
  // Room for part of one more record in each file: the write falls short.
  const rlim_t limit = std::max(runtimeSize, errorSize) + 30;
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of the signal
  struct rlimit limited = saved;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  for (int i = 0; i < 3; ++i) OperateNormally();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(fs::file_size(RuntimeLog()), runtimeSize);
  EXPECT_EQ(fs::file_size(ErrorLog()), errorSize);
  ExpectRecords(3, 1);
  OperateNormally();
  ExpectRecords(6, 2);
}

// Root writes into a read-only folder all the same: the part of the test in
// the read-only folder then runs in a child process as an ordinary user.
template <typename Body>
void AsOrdinaryUser(const std::string& folder, Body body) {
  if (geteuid() != 0) {
    body();
    return;
  }
  const uid_t nobody = 65534;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (chown(entry.path().c_str(), nobody, nobody) != 0) std::_Exit(3);
    }
    if (chown(folder.c_str(), nobody, nobody) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
      std::_Exit(3);
    }
    body();
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the part run as an ordinary user failed";
}

TEST_F(LogFaultTest, ReadOnlyTraceFolderLosesRecordsUntilItIsWritableAgain) {
  AsOrdinaryUser(logDir, [&] {
    ASSERT_EQ(chmod(logDir.c_str(), 0555), 0);
    OperateNormally();
    EXPECT_FALSE(sp_test::Exists(RuntimeLog()));
    ASSERT_EQ(chmod(logDir.c_str(), 0755), 0);
    OperateNormally();
    ExpectRecords(3, 1);
  });
}

#endif

}  // namespace
}  // namespace sp_test
