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
const char kFallbackTraceDir[] = "c:/tovan/";
const char kRuntimeLogName[] = "Vd_Player_Runtime.log";
const char kErrorLogName[] = "Vd_Player_Error.log";
}  // namespace

int32_t SinglePlayer::Init(int32_t newHostValue) {
  std::optional<std::string> systemDirectory = platform::SystemDirectory();
  if (!systemDirectory) return SP_ERR_INIT;
  const std::string driveRoot = platform::DriveRootOf(NormalizeDirPath(*systemDirectory));
  const std::string configPath = driveRoot + PLAYER_CONFIG_FILE;

  std::string value;
  if (config.ReadConfigValue(configPath, kSection, kTracePathKey, value) != 0) {
    value = kFallbackTraceDir;
  }
  NormalizeDirPath(value);
  // A folder that cannot be created still becomes the log folder; its
  // records are then lost silently.
  config.MakeDirectoryPath(value);
  traceDir = value;
  log.SetRuntimeLogPath(traceDir + kRuntimeLogName);
  log.SetErrorLogPath(traceDir + kErrorLogName);

  if (config.ReadConfigValue(configPath, kSection, kDebugLevelKey, value) != 0) value.clear();
  debugLevel = std::atoi(value.c_str());
  hostValue = newHostValue;
  return SP_OK;
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
