// Play_Init and Play_Exit: the log folder and debug level from the
// configuration file.
#include <cstdlib>

#include "log/LogFile.h"
#include "platform/Platform.h"
#include "player/PlayerConfig.h"
#include "player/SinglePlayer.h"

namespace sp {
namespace {
const char kSection[] = "GLOBAL";
const char kTracePathKey[] = "TRACE_PATH";
const char kDebugLevelKey[] = "DEBUG_LEVEL";
// Not 0: trace records name the arguments, and every traced operation adds a
// record of its result. A key of its own, which readers that do not know it
// skip, so the same file serves either kind of player.
const char kTraceArgumentsKey[] = "TRACE_ARGUMENTS";
const char kFallbackTraceDir[] = "c:/tovan/";
const char kRuntimeLogName[] = "Vd_Player_Runtime.log";
const char kErrorLogName[] = "Vd_Player_Error.log";
}  // namespace

// Reads and builds everything first and changes the player's fields only at
// the end, where nothing can fail: a Play_Init that fails (out of memory)
// leaves every field as it was.
int32_t SinglePlayer::Init(int32_t newHostValue) {
  std::optional<std::string> systemDirectory = platform::SystemDirectory();
  if (!systemDirectory) return SP_ERR_INIT;
  const std::string driveRoot = platform::DriveRootOf(NormalizeDirPath(*systemDirectory));
  const std::string configPath = driveRoot + PLAYER_CONFIG_FILE;

  std::string folder;
  if (config.ReadConfigValue(configPath, kSection, kTracePathKey, folder) != 0) {
    folder = kFallbackTraceDir;
  }
  NormalizeDirPath(folder);
  std::string runtimeLogPath = folder + kRuntimeLogName;
  std::string errorLogPath = folder + kErrorLogName;
  const int32_t level = ReadNumber(configPath, kDebugLevelKey);
  const bool arguments = ReadNumber(configPath, kTraceArgumentsKey) != 0;

  CreateLogFolder(folder);
  traceDir.swap(folder);
  log.SwapLogPaths(runtimeLogPath, errorLogPath);
  debugLevel = level;
  traceArguments = arguments;
  hostValue = newHostValue;
  return SP_OK;
}

// A key's value read as by atoi; 0 when the file or the key is missing.
int32_t SinglePlayer::ReadNumber(const std::string& configPath, const char* key) const {
  std::string value;
  if (config.ReadConfigValue(configPath, kSection, key, value) != 0) return 0;
  return std::atoi(value.c_str());
}

// A folder that cannot be created (for whatever reason, memory running out
// included) still becomes the log folder; its records are then lost
// silently.
void SinglePlayer::CreateLogFolder(const std::string& folder) const noexcept {
  try {
    config.MakeDirectoryPath(folder);
  } catch (...) {
  }
}

// Writes no record at any level; an allocation failure (or any other
// exception) gives the result of an unreadable system folder.
int32_t SP_STDCALL SinglePlayer::Play_Init(int32_t newHostValue) {
  try {
    return Init(newHostValue);
  } catch (...) {
    return SP_ERR_INIT;
  }
}

int32_t SP_STDCALL SinglePlayer::Play_Exit() { return SP_OK; }

}  // namespace sp
