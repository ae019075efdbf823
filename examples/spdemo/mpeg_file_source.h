// Program and transport stream files (.ts, .m2ts, .mts, .ps, .mpg, .vob)
// handed to the decoder as they are, in pieces of varying size, each due
// when the pictures it carries are: the stand-in takes the container apart
// itself, as it does for a camera's stream.
#pragma once

#include <memory>
#include <string>

#include "sources.h"

namespace spdemo {

// True when the file name's extension is one of a program or transport stream.
bool isMpegStreamFile(const std::string& path);

// Null with error set when the file cannot be read or is neither kind.
std::unique_ptr<PacketSource> openMpegFileSource(const std::string& path, std::string& error);

}  // namespace spdemo
