// spdemo: a demo host of the player. See usageText() for the commands.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "interrupt.h"
#include "options.h"

namespace spdemo {

void printSnapshot(const std::string& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error)) {
    std::printf("snapshot: none written\n");
    return;
  }
  const auto size = std::filesystem::file_size(path, error);
  const auto absolute = std::filesystem::absolute(path, error);
  std::printf("snapshot: %s (%llu bytes)\n", absolute.generic_string().c_str(),
              static_cast<unsigned long long>(size));
}

}  // namespace spdemo

int main(int argc, char** argv) {
  spdemo::Options options;
  std::string error;
  if (!spdemo::parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "spdemo: %s\n\n%s", error.c_str(), spdemo::usageText());
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  spdemo::catchInterrupts();
  switch (options.command) {
    case spdemo::Command::Help:
      std::printf("%s", spdemo::usageText());
      return 0;
    case spdemo::Command::Play:
      return spdemo::runPlay(options);
    case spdemo::Command::Pack:
      return spdemo::runPack(options);
    case spdemo::Command::Tour:
      break;
  }
  return spdemo::runTour(options);
}
