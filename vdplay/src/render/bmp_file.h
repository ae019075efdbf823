// Saving an I420 frame as a BMP file.
#pragma once

#include <cstdint>

namespace vdplay {

// Checks the arguments of VdPLay_ConvertToBmpFile and writes the file: 24
// bits per pixel, bottom-up rows padded to 4 bytes. Returns 0 or a
// VDPLAY_ERR_* code (1 bad argument, 7 file failure, 6 out of memory). A
// file that could not be written completely is removed.
std::uint32_t writeI420AsBmp(const std::uint8_t* frame, std::int32_t size, std::int32_t width,
                             std::int32_t height, std::int32_t type, const char* path);

}  // namespace vdplay
