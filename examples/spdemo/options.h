// The command line of spdemo, parsed into one plain record.
#pragma once

#include <cstdint>
#include <string>

namespace spdemo {

enum class Command { Tour, Play, Pack, Help };

struct Options {
  Command command = Command::Tour;
  std::string input;   // play: the stream or .y4m file; pack: the .y4m file
  std::string output;  // pack: the stream file to write
  std::int32_t port = 0;
  std::int32_t state = 1;         // play: the play state to switch to after opening
  std::string snapshot;           // empty: the command's default
  double durationSeconds = 0;     // 0: the command's default
  std::int32_t volume = 0;        // play: Play_SetVolume's 0..100 (0, the player's default: silent)
  bool rawPayload = false;        // pack: raw pictures instead of zlib
  bool window = false;            // Windows: play into a window of our own
  std::string configTraceDir;     // non-empty: write the configuration file first
};

// Parses argv. On failure returns false and puts the reason into error.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// The usage text.
const char* usageText();

}  // namespace spdemo
