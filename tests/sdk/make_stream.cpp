// Writes a stream file for host_minimal with the installed stream writer:
// one second of a CIF test pattern at 25 frames per second, zlib packets.
// Usage: make_stream OUT_FILE
#include <VdStreamFormat.h>

#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_stream OUT_FILE\n");
    return 2;
  }
  constexpr std::uint32_t kWidth = 352;
  constexpr std::uint32_t kHeight = 288;
  std::vector<std::uint8_t> stream = vdstream::makeFileHeader(kWidth, kHeight, 25, 1);
  std::vector<std::uint8_t> picture(vdstream::pictureBytes(kWidth, kHeight));
  for (std::uint32_t frame = 0; frame < 25; ++frame) {
    vdstream::fillTestPicture(picture.data(), kWidth, kHeight, frame);
    if (!vdstream::appendPacket(stream, picture.data(), picture.size(), frame * 40,
                                vdstream::Payload::Zlib)) {
      return 1;
    }
  }
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(stream.data()),
            static_cast<std::streamsize>(stream.size()));
  return out ? 0 : 1;
}
