// pack IN OUT: one stream file, its header and then the packets of the input
// (a .y4m file, a stream file or, natively, an H.264 or H.265 video file).
// The output must not be the input, under any name.
#include <VdStreamFormat.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "commands.h"
#include "sources.h"

namespace spdemo {
namespace {

// True when both names lead to one existing file (links and other spellings
// of the path included).
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

int runPack(const Options& options) {
  if (sameFile(options.input, options.output)) {
    std::fprintf(stderr, "spdemo: %s is the input file; pack writes a new file\n",
                 options.output.c_str());
    return 1;
  }
  std::string error;
  const auto source = openFileSource(
      options.input, error, options.rawPayload ? vdstream::Payload::Raw : vdstream::Payload::Zlib);
  if (!source) {
    std::fprintf(stderr, "spdemo: %s\n", error.c_str());
    return 1;
  }
  std::FILE* out = std::fopen(options.output.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "spdemo: cannot create %s\n", options.output.c_str());
    return 1;
  }
  const std::vector<std::uint8_t>& header = source->header();
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  std::vector<std::uint8_t> packet;
  std::uint64_t packets = 0;
  std::uint64_t bytes = header.size();
  while (ok && source->next(packet)) {
    ok = std::fwrite(packet.data(), 1, packet.size(), out) == packet.size();
    bytes += packet.size();
    ++packets;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!source->error().empty()) {
    std::fprintf(stderr, "spdemo: %s: %s\n", options.input.c_str(), source->error().c_str());
    ok = false;
  }
  if (packets == 0 && ok) {
    std::fprintf(stderr, "spdemo: %s holds no picture\n", options.input.c_str());
    ok = false;
  }
  const StreamInfo& info = source->info();
  std::printf("%s: %llu packets %ux%u, %s, %llu bytes%s\n", options.output.c_str(),
              static_cast<unsigned long long>(packets), info.width, info.height,
              source->contents().c_str(), static_cast<unsigned long long>(bytes),
              ok ? "" : " (incomplete)");
  return ok ? 0 : 1;
}

}  // namespace spdemo
