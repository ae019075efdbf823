// One run of the player: the optional configuration file, creation and
// Play_Init, opening one host port, play-state changes, the snapshot, and
// closing and releasing at the end. Every call is printed with its result.
#pragma once

#include <SinglePlayer.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config_guard.h"

namespace spdemo {

// Buffer the player asks the decoder for: live streams (open mode 0) and
// files (open mode 1).
constexpr std::uint32_t kLivePoolBytes = 512000;
constexpr std::uint32_t kFilePoolBytes = 1024000;

// A short name of a play-state code ("normal", "fast 2", ...).
std::string stateName(std::int32_t state);

// What a result code of the player means.
std::string resultText(std::int32_t result);

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Writes the configuration file when configTraceDir is not empty (what
  // was there comes back in finish(), also on early exits), then creates the
  // player and initialises it. False when either fails.
  bool start(const std::string& configTraceDir);

  // Gives the port its decoder port in the open mode (0 live, 1 file) and
  // opens and plays the stream with its header.
  std::int32_t open(SP_HWND window, std::int32_t port, std::int32_t openMode,
                    const std::vector<std::uint8_t>& header);

  std::int32_t setState(std::int32_t state);
  // Play_SetVolume on the open port: 0 silent, else this port's sound at volume.
  std::int32_t setVolume(std::int32_t volume);

  // Saves a BMP of the next frame shown, trying a few times when no frame
  // came within the player's wait.
  std::int32_t snapshot(const std::string& path);

  // Closes the stream (if open), calls Play_Exit, releases the player and
  // puts the configuration file back.
  void finish();

  ISinglePlayer& player() { return *player_; }
  std::int32_t port() const { return port_; }

  // Where the player's logs go, as far as the configuration file told when
  // the player started.
  const std::string& logLocation() const { return logLocation_; }

 private:
  static std::string describeLogLocation(const std::string& configPath);

  ISinglePlayer* player_ = nullptr;
  std::int32_t port_ = 0;
  bool streamOpen_ = false;
  std::string configPath_;
  std::string logLocation_;
  ConfigGuard config_;
};

// Prints "call -> result (meaning)" and returns the result; a note, when
// given, replaces the general meaning of the code.
std::int32_t report(const std::string& call, std::int32_t result, const std::string& note = {});

}  // namespace spdemo
