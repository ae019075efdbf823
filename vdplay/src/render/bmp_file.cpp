#include "render/bmp_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "VdPlay.h"
#include "VdStreamFormat.h"
#include "render/color.h"
#include "little_endian.h"

namespace vdplay {
namespace {

using vdplay::le::put16;
using vdplay::le::put32;

constexpr std::uint32_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER
constexpr std::uint32_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER

// Opens path to write `size` bytes as its whole content. An existing file of
// exactly that size (a capture to the same path again) is written over in
// place: truncating it first makes the file system allocate its blocks anew,
// which took longer than converting a 1080p picture.
std::FILE* openForWholeContent(const char* path, long size) {
  if (std::FILE* f = std::fopen(path, "r+b")) {
    if (std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == size &&
        std::fseek(f, 0, SEEK_SET) == 0)
      return f;
    std::fclose(f);
  }
  return std::fopen(path, "wb");
}

}  // namespace

std::uint32_t writeI420AsBmp(const std::uint8_t* frame, std::int32_t size, std::int32_t width,
                             std::int32_t height, std::int32_t type, const char* path) {
  if (!frame || !path || !*path || type != VDPLAY_FRAME_I420) return VDPLAY_ERR_BAD_ARGUMENT;
  const auto badSide = [](std::int32_t s) {
    return s <= 0 || s % 2 != 0 || s > static_cast<std::int32_t>(vdstream::kMaxDimension);
  };
  if (badSide(width) || badSide(height)) return VDPLAY_ERR_BAD_ARGUMENT;
  if (size < 0 || static_cast<std::size_t>(size) != vdstream::pictureBytes(width, height))
    return VDPLAY_ERR_BAD_ARGUMENT;

  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(height);
  const std::uint32_t offset = kFileHeaderBytes + kInfoHeaderBytes;

  // The whole file in one buffer, written with one call: row by row, the
  // writes of a 1080p picture took longer than converting it.
  const std::size_t fileBytes = std::size_t(offset) + imageBytes;
  std::unique_ptr<std::uint8_t[]> file(new (std::nothrow) std::uint8_t[fileBytes]);
  if (!file) return VDPLAY_ERR_ALLOC;

  std::uint8_t* head = file.get();
  std::memset(head, 0, offset);
  head[0] = 'B';
  head[1] = 'M';
  put32(head + 2, offset + imageBytes);  // file size
  put32(head + 10, offset);              // offset of the pixels
  std::uint8_t* info = head + kFileHeaderBytes;
  put32(info + 0, kInfoHeaderBytes);
  put32(info + 4, static_cast<std::uint32_t>(width));
  put32(info + 8, static_cast<std::uint32_t>(height));  // positive: bottom row first
  put16(info + 12, 1);                                  // planes
  put16(info + 14, 24);                                 // bits per pixel
  put32(info + 16, 0);                                  // BI_RGB
  put32(info + 20, imageBytes);
  put32(info + 24, 2835);  // 72 dpi in pixels per metre
  put32(info + 28, 2835);

  std::uint8_t* pixels = file.get() + offset;
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(width) * 3;
  if (rowBytes > pixelBytes) {
    for (std::int32_t r = 0; r < height; ++r)
      std::memset(pixels + std::size_t(r) * rowBytes + pixelBytes, 0, rowBytes - pixelBytes);
  }
  std::uint8_t* topRow = pixels + std::size_t(height - 1) * rowBytes;
  if (!convertPictureBgr(frame, width, height, topRow, -static_cast<std::ptrdiff_t>(rowBytes)))
    return VDPLAY_ERR_ALLOC;

  std::FILE* f = openForWholeContent(path, static_cast<long>(fileBytes));
  if (!f) return VDPLAY_ERR_FILE;
  bool ok = std::fwrite(file.get(), fileBytes, 1, f) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::remove(path);
    return VDPLAY_ERR_FILE;
  }
  return 0;
}

}  // namespace vdplay
