// Writes the player's configuration file for one run of the demo and puts
// back what was there before when the run ends: the old contents, or no file
// (and none of the folders made for it) when there was none.
#pragma once

#include <string>
#include <vector>

namespace spdemo {

class ConfigGuard {
 public:
  ConfigGuard() = default;
  ~ConfigGuard() { restore(); }
  ConfigGuard(const ConfigGuard&) = delete;
  ConfigGuard& operator=(const ConfigGuard&) = delete;

  // Writes configPath so that the player's logs go to traceDir at debug
  // level 1, remembering what was there first. False with error set when
  // the old file cannot be read or the new one cannot be written; nothing
  // is left changed then.
  bool write(const std::string& configPath, const std::string& traceDir, std::string& error);

  // Puts the old state back (once; later calls do nothing). Returns false
  // when that failed, with a message on stderr.
  bool restore();

  bool active() const { return active_; }

 private:
  bool active_ = false;
  std::string path_;
  bool hadFile_ = false;
  std::vector<char> oldContents_;
  std::vector<std::string> madeFolders_;  // innermost first
};

// The folder path with backslashes turned into "/" and a final "/".
std::string withSlash(std::string dir);

}  // namespace spdemo
