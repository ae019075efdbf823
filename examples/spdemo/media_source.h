// A video file turned into the stand-in decoder's stream: a header naming
// the codec, then one packet per access unit, stamped with its presentation
// time and due at its decoding time (natively read with libavformat,
// media_source.cpp; on Windows .mp4/.mov/.m4v with the demo's MP4 reader,
// other containers through the system's Source Reader, or a bare stream fed
// as it is, mf_media_source.cpp).
#pragma once

#include <memory>
#include <string>

#include "sources.h"

namespace spdemo {

// Null with error set when the file cannot be read or has no H.264 or H.265
// video. Built from media_source.cpp natively, mf_media_source.cpp on
// Windows, or no_media_source.cpp, which refuses every file.
std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error);

}  // namespace spdemo
