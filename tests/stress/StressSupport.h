// Shared pieces of the stress tests: a private folder that plays the system
// drive (so Play_Init reads a configuration file of the test's own and the
// logs land in the folder), log reading, and the duration knob.
#pragma once

#include <gtest/gtest.h>

#include <SinglePlayer.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"
#include "support/TestIsolation.h"

namespace stress {

// GBK texts the tests look for in the error log.
inline const std::string kCaptureTimeout = "\xd7\xa5\xcd\xbc\xb3\xac\xca\xb1";  // 抓图超时
inline const std::string kPathNotSet = "\xc2\xb7\xbe\xb6\xce\xb4\xc9\xe8\xd6\xc3";  // 路径未设置

// A temporary folder whose "root/" is the system drive's root while the
// object lives. On Windows the root is the first three characters of the
// system folder, so a relative "sp\system32" inside the folder (made the
// working folder) gives the root "sp/".
class Sandbox {
 public:
  Sandbox() {
#if defined(_WIN32)
    savedWorkingDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    root_ = dir_.File("sp/");
    systemDir_ = "sp\\system32";
#else
    root_ = dir_.File("root/");
    systemDir_ = root_;
#endif
    logDir_ = dir_.File("logs/");
    Apply();
  }
  ~Sandbox() {
    sp_test::UseIsolatedSystemDirectory();
#if defined(_WIN32)
    std::filesystem::current_path(savedWorkingDir_);
#endif
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Makes the folder the system folder again (after a test replaced it).
  void Apply() const { sp::platform::testing::OverrideSystemDirectory(systemDir_); }

  // Writes the configuration file that Play_Init reads: logs in LogDir().
  void Configure(int debugLevel) const {
    std::filesystem::create_directories(root_ + "q38/cfg");
    sp_test::WriteFile(root_ + "q38/cfg/Q38.cfg", "[GLOBAL]\n[TRACE_PATH][" + logDir_ +
                                                      "]\n[DEBUG_LEVEL][" +
                                                      std::to_string(debugLevel) + "]\n");
  }

  std::string File(const std::string& name) const { return dir_.File(name); }
  const std::string& LogDir() const { return logDir_; }
  std::string ErrorLog() const { return logDir_ + "Vd_Player_Error.log"; }
  std::string RuntimeLog() const { return logDir_ + "Vd_Player_Runtime.log"; }

 private:
  sp_test::TempDir dir_;
  std::string root_;
  std::string systemDir_;
  std::string logDir_;
#if defined(_WIN32)
  std::filesystem::path savedWorkingDir_;
#endif
};

// The records of a log file, which must parse into whole records.
inline std::vector<sp_test::LogRecord> WholeRecords(const std::string& path) {
  bool ok = true;
  std::vector<sp_test::LogRecord> records = sp_test::ReadLogRecords(path, ok);
  EXPECT_TRUE(ok) << path << " holds a broken record after " << records.size() << " whole ones";
  return records;
}

// The error records of a log file, taken apart.
inline std::vector<sp_test::ErrorRecord> ErrorRecords(const std::string& path) {
  std::vector<sp_test::ErrorRecord> errors;
  for (const sp_test::LogRecord& record : WholeRecords(path)) {
    bool ok = true;
    errors.push_back(sp_test::ToErrorRecord(record, ok));
    EXPECT_TRUE(ok) << "not an error record: " << record.label[0];
  }
  return errors;
}

// "--seconds=N" on the test's command line, else the fallback.
inline int SecondsArgument(int fallback) {
  for (const std::string& arg : ::testing::internal::GetArgvs()) {
    if (arg.rfind("--seconds=", 0) == 0) return std::atoi(arg.c_str() + 10);
  }
  return fallback;
}

}  // namespace stress
