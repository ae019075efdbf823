// Helpers shared by the benchmark programs: a private temporary folder, the
// player set up against a configuration file in it, and small statistics.
#pragma once

#include <SinglePlayer.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// A fresh folder under the system's temporary folder, removed with the object.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // With "/" separators and a trailing "/".
  const std::string& Slashed() const { return slashed_; }
  std::string File(const std::string& name) const { return slashed_ + name; }

 private:
  std::filesystem::path path_;
  std::string slashed_;
};

// The process's one temporary folder for the benchmarks; the player's system
// folder points at it, so its configuration file is <folder>/q38/cfg/Q38.cfg.
TempFolder& SharedFolder();

// Writes the player's configuration file below the shared folder: the
// [GLOBAL] section with the trace folder and debug level, after fillerLines
// lines of other entries (so a reader has to scan them first).
void WritePlayerConfig(int debugLevel, int fillerLines = 0);

// The player, with the system folder overridden to SharedFolder() and
// Play_Init called; the same object on every call.
ISinglePlayer* InitialisedPlayer(int debugLevel = 0);

// Median of the values (copied, so the caller's order stays).
double Median(std::vector<double> values);
// The value at the fraction 0..1 of the sorted values.
double Quantile(std::vector<double> values, double fraction);

}  // namespace bench
