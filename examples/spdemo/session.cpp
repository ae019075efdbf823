#include "session.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include "os.h"

namespace spdemo {
namespace {

constexpr char kConfigBelowRoot[] = "q38/cfg/Q38.cfg";
constexpr char kFallbackLogDir[] = "c:/tovan/";
constexpr int kSnapshotTries = 10;

// The value of [TRACE_PATH] after the [GLOBAL] section header, as the
// player reads it; empty when the file or the entry is missing.
std::string configuredTraceDir(const std::string& configPath) {
  std::ifstream in(configPath);
  std::string line;
  bool inGlobal = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[GLOBAL]", 0) == 0) inGlobal = true;
    const std::string key = "[TRACE_PATH][";
    if (inGlobal && line.rfind(key, 0) == 0) {
      const std::string::size_type end = line.find(']', key.size());
      if (end != std::string::npos) return line.substr(key.size(), end - key.size());
    }
  }
  return {};
}

}  // namespace

std::string stateName(std::int32_t state) {
  switch (state) {
    case PLAYSTATE_PLAY: return "normal";
    case PLAYSTATE_PAUSE: return "pause";
    case PLAYSTATE_FAST1: return "fast 1 (x2)";
    case PLAYSTATE_FAST2: return "fast 2 (x4)";
    case PLAYSTATE_FAST3: return "fast 3 (x8)";
    case PLAYSTATE_SLOW1: return "slow 1 (x1/2)";
    case PLAYSTATE_SLOW2: return "slow 2 (x1/4)";
    case PLAYSTATE_SLOW3: return "slow 3 (x1/8)";
    case PLAYSTATE_ONE_BY_ONE: return "single frame";
    default: return "state " + std::to_string(state);
  }
}

std::string resultText(std::int32_t result) {
  switch (result) {
    case SP_OK: return "ok";
    case SP_ERR_INIT: return "system folder unreadable";
    case SP_ERR_PARAM: return "bad argument or no decoder port";
    case SP_ERR_ORDER: return "stream not started";
    case SP_ERR_STEPPING: return "refused: stepping without a permit, or buffer full";
    case SP_ERR_DECODER_UNKNOWN: return "no frame in time, or unknown decoder failure";
    default:
      if (result > 1 && result <= 24) return "decoder error " + std::to_string(result - 1);
      return "unexpected";
  }
}

std::int32_t report(const std::string& call, std::int32_t result, const std::string& note) {
  std::printf("  %-52s -> %d (%s)\n", call.c_str(), result,
              note.empty() ? resultText(result).c_str() : note.c_str());
  return result;
}

Session::~Session() { finish(); }

bool Session::start(const std::string& configTraceDir) {
  configPath_ = os::systemDriveRoot() + kConfigBelowRoot;
  if (!configTraceDir.empty()) {
    std::string error;
    if (!config_.write(configPath_, configTraceDir, error)) {
      std::fprintf(stderr, "spdemo: %s\n", error.c_str());
      return false;
    }
    std::printf("wrote %s for this run (put back at exit): logs to %s, debug level 1\n",
                configPath_.c_str(), withSlash(configTraceDir).c_str());
  }
  logLocation_ = describeLogLocation(configPath_);
  player_ = CreateSinglePlayerDll();
  if (!player_) {
    std::fprintf(stderr, "spdemo: CreateSinglePlayerDll returned null\n");
    return false;
  }
  std::printf("  %-52s -> player at %p\n", "CreateSinglePlayerDll()",
              static_cast<void*>(player_));
  if (report("Play_Init(0)", player_->Play_Init(0)) != SP_OK) return false;
  std::printf("logs: %s\n", logLocation().c_str());
  return true;
}

std::string Session::describeLogLocation(const std::string& configPath) {
  const std::string configured = configuredTraceDir(configPath);
  if (!configured.empty()) {
    return withSlash(configured) + " (Vd_Player_Runtime.log, Vd_Player_Error.log; set in " +
           configPath + ")";
  }
  std::string text = std::string(kFallbackLogDir) + " (no " + configPath + ")";
#if !defined(_WIN32)
  text += "; that is no folder here, so the player's logs are dropped"
          " (pass --config-trace DIR to keep them)";
#endif
  return text;
}

std::int32_t Session::open(SP_HWND window, std::int32_t port, std::int32_t openMode,
                           const std::vector<std::uint8_t>& header) {
  port_ = port;
  const std::string portText = "port " + std::to_string(port);
  std::int32_t result = report("Play_SetOpenMode(" + portText + ", " +
                                   std::to_string(openMode) + ")",
                               player_->Play_SetOpenMode(port, openMode));
  if (result != SP_OK) return result;
  char windowText[32];
  std::snprintf(windowText, sizeof windowText, "%p", window);
  result = report("Play_OpenStream(window " + std::string(window ? windowText : "none") + ", " +
                      portText + ", " + std::to_string(header.size()) + "-byte header)",
                  player_->Play_OpenStream(window, port, const_cast<std::uint8_t*>(header.data()),
                                           static_cast<std::uint32_t>(header.size()), 0));
  streamOpen_ = result == SP_OK;
  return result;
}

std::int32_t Session::setState(std::int32_t state) {
  return report("Play_PlayState(port " + std::to_string(port_) + ", " + std::to_string(state) +
                    " " + stateName(state) + ")",
                player_->Play_PlayState(port_, state));
}

std::int32_t Session::setVolume(std::int32_t volume) {
  return report("Play_SetVolume(port " + std::to_string(port_) + ", " + std::to_string(volume) + ")",
                player_->Play_SetVolume(port_, volume));
}

std::int32_t Session::snapshot(const std::string& path) {
  std::int32_t result = SP_ERR_DECODER_UNKNOWN;
  for (int attempt = 1; attempt <= kSnapshotTries; ++attempt) {
    result = player_->Play_GetPicture(port_, path.c_str());
    if (result != SP_ERR_DECODER_UNKNOWN) break;
  }
  return report("Play_GetPicture(port " + std::to_string(port_) + ", \"" + path + "\")", result);
}

void Session::finish() {
  if (player_) {
    if (streamOpen_) {
      report("Play_CloseStream(port " + std::to_string(port_) + ")",
             player_->Play_CloseStream(port_));
      streamOpen_ = false;
    }
    report("Play_Exit()", player_->Play_Exit());
    ReleaseSinglePlayerDll(player_);
    std::printf("  %-52s -> done\n", "ReleaseSinglePlayerDll(player)");
    player_ = nullptr;
  }
  if (config_.active() && config_.restore()) {
    std::printf("put %s back as it was\n", configPath_.c_str());
  }
}

}  // namespace spdemo
