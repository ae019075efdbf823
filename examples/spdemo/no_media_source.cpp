// The media source of a build that reads no video files (Windows), and of the
// demo's tests that keep FFmpeg out of their process.
#include "media_source.h"

namespace spdemo {

std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error) {
  error = path + " is neither a stream file nor a YUV4MPEG2 file (this build reads no other"
                 " video files)";
  return nullptr;
}

}  // namespace spdemo
