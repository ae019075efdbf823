#include "BenchSupport.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "platform/Platform.h"

namespace bench {

TempFolder::TempFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("sp_bench_" + tag + "_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
  slashed_ = path_.generic_string();
  if (slashed_.empty() || slashed_.back() != '/') slashed_ += '/';
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TempFolder& SharedFolder() {
  static TempFolder folder("player");
  return folder;
}

void WritePlayerConfig(int debugLevel, int fillerLines) {
  const std::string cfgDir = SharedFolder().File("q38/cfg");
  std::filesystem::create_directories(cfgDir);
  std::ofstream out(cfgDir + "/Q38.cfg", std::ios::binary | std::ios::trunc);
  for (int i = 0; i < fillerLines; ++i) {
    out << "[OTHER_KEY_" << i << "][some value of entry " << i << "]\n";
  }
  out << "[GLOBAL]\n";
  out << "[TRACE_PATH][" << SharedFolder().File("trace") << "]\n";
  out << "[DEBUG_LEVEL][" << debugLevel << "]\n";
  if (!out) throw std::runtime_error("cannot write the configuration file");
}

ISinglePlayer* InitialisedPlayer(int debugLevel) {
  // The system folder must be overridden before the player exists: its log
  // paths before Play_Init come from it.
  sp::platform::testing::OverrideSystemDirectory(SharedFolder().Slashed());
  WritePlayerConfig(debugLevel);
  ISinglePlayer* player = CreateSinglePlayerDll();
  if (player == nullptr || player->Play_Init(0) != SP_OK) {
    throw std::runtime_error("the player cannot be initialised");
  }
  return player;
}

double Median(std::vector<double> values) { return Quantile(std::move(values), 0.5); }

double Quantile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const double position = fraction * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(position);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  const double weight = position - static_cast<double>(below);
  return values[below] * (1.0 - weight) + values[above] * weight;
}

}  // namespace bench
