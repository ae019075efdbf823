#include "media_source.h"

#include "media_reader.h"

namespace spdemo {

std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error) {
  auto reader = std::make_unique<MediaReader>();
  if (!reader->open(path)) {
    error = path + ": " + reader->error();
    return nullptr;
  }
  return makeVideoFileSource(std::move(reader));
}

}  // namespace spdemo
