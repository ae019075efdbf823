// pack IN.y4m OUT: one stream file, its header and one packet per picture.
#include <VdStreamFormat.h>

#include <cstdio>
#include <vector>

#include "commands.h"
#include "sources.h"
#include "y4m_reader.h"

namespace spdemo {

int runPack(const Options& options) {
  Y4mReader reader;
  if (!reader.open(options.input)) {
    std::fprintf(stderr, "spdemo: %s: %s\n", options.input.c_str(), reader.error().c_str());
    return 1;
  }
  std::FILE* out = std::fopen(options.output.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "spdemo: cannot create %s\n", options.output.c_str());
    return 1;
  }
  const auto header = vdstream::makeFileHeader(reader.width(), reader.height(),
                                               reader.rateNumerator(), reader.rateDenominator());
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  const vdstream::Payload type =
      options.rawPayload ? vdstream::Payload::Raw : vdstream::Payload::Zlib;
  std::vector<std::uint8_t> picture;
  std::vector<std::uint8_t> packet;
  std::uint64_t frames = 0;
  std::uint64_t bytes = header.size();
  while (ok && reader.readFrame(picture)) {
    packet.clear();
    const std::uint32_t stamp =
        frameStampMs(frames, reader.rateNumerator(), reader.rateDenominator());
    ok = vdstream::appendPacket(packet, picture.data(), picture.size(), stamp, type) &&
         std::fwrite(packet.data(), 1, packet.size(), out) == packet.size();
    bytes += packet.size();
    ++frames;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!reader.error().empty()) {
    std::fprintf(stderr, "spdemo: %s: %s\n", options.input.c_str(), reader.error().c_str());
    ok = false;
  }
  std::printf("%s: %llu frames %ux%u, %s payload, %llu bytes%s\n", options.output.c_str(),
              static_cast<unsigned long long>(frames), reader.width(), reader.height(),
              options.rawPayload ? "raw" : "zlib", static_cast<unsigned long long>(bytes),
              ok ? "" : " (incomplete)");
  return ok ? 0 : 1;
}

}  // namespace spdemo
