// Test helper for programs that link the player's code: a temporary folder
// that plays the system drive while the object lives, so that Play_Init reads
// a configuration file of the test's own and the logs land in the folder.
//
// On Windows the drive root is the first three characters of the system
// folder, so a relative "sp\system32" inside the folder (made the working
// folder) gives the root "sp/", off the shared C:/ of the Wine prefix.
// Natively the root is "root/" in the folder.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Platform.h"
#include "support/TempDir.h"
#include "support/TestIsolation.h"

namespace sp_test {

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
    UseIsolatedSystemDirectory();
#if defined(_WIN32)
    std::filesystem::current_path(savedWorkingDir_);
#endif
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Makes the folder the system folder again (after a test replaced it).
  void Apply() const { sp::platform::testing::OverrideSystemDirectory(systemDir_); }

  std::string ConfigPath() const { return root_ + "q38/cfg/Q38.cfg"; }

  // Writes the configuration file that Play_Init reads.
  void WriteConfig(const std::string& contents) const {
    std::filesystem::create_directories(root_ + "q38/cfg");
    WriteFile(ConfigPath(), contents);
  }

  // The configuration file with both logs in LogDir() at the debug level.
  void Configure(int debugLevel) const {
    WriteConfig("[GLOBAL]\n[TRACE_PATH][" + logDir_ + "]\n[DEBUG_LEVEL][" +
                std::to_string(debugLevel) + "]\n");
  }

  const TempDir& Dir() const { return dir_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  const std::string& Root() const { return root_; }  // the folder that plays the drive's root
  const std::string& LogDir() const { return logDir_; }
  std::string ErrorLog() const { return logDir_ + "Vd_Player_Error.log"; }
  std::string RuntimeLog() const { return logDir_ + "Vd_Player_Runtime.log"; }

 private:
  TempDir dir_;
  std::string root_;
  std::string systemDir_;
  std::string logDir_;
#if defined(_WIN32)
  std::filesystem::path savedWorkingDir_;
#endif
};

}  // namespace sp_test
