#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace spdemo {
namespace {

bool toInt(const std::string& text, std::int32_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

bool toSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0' && value > 0 && value <= 3600;
}

}  // namespace

const char* usageText() {
  return "usage:\n"
         "  spdemo [--duration S] [--snapshot PATH] [--port N] [--window] [--config-trace DIR]\n"
         "      plays a generated test pattern (352x288, 25 fps) through the player,\n"
         "      walks the play states and saves a snapshot (default ./spdemo-snapshot.bmp)\n"
         "  spdemo play FILE [--port N] [--state CODE] [--snapshot PATH] [--duration S]\n"
         "                   [--volume N] [--window] [--config-trace DIR]\n"
         "      plays a stream file, a 4:2:0 .y4m file, a program or transport stream,\n"
         "      or a video file with H.264 or H.265 video (natively mp4, mkv, .h264,\n"
         "      .265; on Windows .mp4/.mov/.m4v with the demo's own reader, other\n"
         "      containers as far as the system's Source Reader gives H.264/H.265\n"
         "      samples, and bare .h264/.265 streams) at its real rate; CODE 1 play,\n"
         "      2 pause, 3-5 fast, 6-8 slow, 9 single frame. Ends at\n"
         "      the end of the data, after S seconds, or when no frame comes for 3 s\n"
         "      while data waits; exit status 1 for any fault of the data. N 0-100 is\n"
         "      the sound's volume (Play_SetVolume; default 0, silent): a video file's\n"
         "      AAC or G.711 audio plays with the pictures\n"
         "  spdemo pack IN OUT [--raw]\n"
         "      writes IN (as play takes it) as a stream file; .y4m pictures are\n"
         "      zlib-compressed, or raw with --raw\n"
         "\n"
         "  --config-trace DIR  writes the player's configuration file (at the system\n"
         "                      drive's q38/cfg/Q38.cfg) so that its logs go to DIR;\n"
         "                      what was there is put back at exit\n"
         "  --window            shows the video in a window (Windows, or X11 via DISPLAY)\n";
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    auto value = [&]() -> const std::string& { return args[++i]; };
    if (arg == "-h" || arg == "--help") {
      options.command = Command::Help;
      return true;
    } else if (arg == "--raw") {
      options.rawPayload = true;
    } else if (arg == "--window") {
      options.window = true;
    } else if (arg == "--port" || arg == "--state" || arg == "--snapshot" ||
               arg == "--duration" || arg == "--config-trace" || arg == "--volume") {
      if (!hasValue) {
        error = arg + " needs a value";
        return false;
      }
      const std::string& text = value();
      if (arg == "--port" && (!toInt(text, options.port) || options.port < 0 ||
                              options.port > 127)) {
        error = "--port takes a host port from 0 to 127";
        return false;
      }
      if (arg == "--state" && (!toInt(text, options.state) || options.state < 1 ||
                               options.state > 9)) {
        error = "--state takes a play-state code from 1 to 9";
        return false;
      }
      if (arg == "--duration" && !toSeconds(text, options.durationSeconds)) {
        error = "--duration takes seconds above 0 (at most 3600)";
        return false;
      }
      if (arg == "--volume" && (!toInt(text, options.volume) || options.volume < 0 ||
                                options.volume > 100)) {
        error = "--volume takes a volume from 0 to 100";
        return false;
      }
      if (arg == "--snapshot") options.snapshot = text;
      if (arg == "--config-trace") options.configTraceDir = text;
    } else if (!arg.empty() && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
  }

  if (positional.empty()) {
    options.command = Command::Tour;
    return true;
  }
  const std::string& command = positional[0];
  if (command == "play" && positional.size() == 2) {
    options.command = Command::Play;
    options.input = positional[1];
    return true;
  }
  if (command == "pack" && positional.size() == 3) {
    options.command = Command::Pack;
    options.input = positional[1];
    options.output = positional[2];
    return true;
  }
  if (command == "play" || command == "pack") {
    error = command == "play" ? "play takes one FILE" : "pack takes IN and OUT";
  } else {
    error = "unknown command " + command;
  }
  return false;
}

}  // namespace spdemo
