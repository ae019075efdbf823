// The media source of the demo's tests that keep FFmpeg (and Media
// Foundation) out of their process: it reads no video files.
#include "media_source.h"

namespace spdemo {

std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error) {
  error = path + " is neither a stream file nor a YUV4MPEG2 file (this build reads no other"
                 " video files)";
  return nullptr;
}

}  // namespace spdemo
