// Test helpers: streams of the moving test pattern in the stand-in's format,
// and a checksum that tells their pictures apart.
#pragma once

#include <VdStreamFormat.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sp_test {

using Bytes = std::vector<std::uint8_t>;

struct StreamRecipe {
  std::uint32_t width = 16;
  std::uint32_t height = 16;
  std::uint32_t pictures = 0;
  vdstream::Payload payload = vdstream::Payload::Raw;
  bool alternateZlib = false;     // odd pictures as zlib packets, even ones raw
  std::uint32_t fps = 25;         // the file header's frame rate
  std::uint32_t stampStepMs = 0;  // between the packets' stamps; 0: one frame at `fps`
};

// The file header, the pictures and one packet for each.
struct TestStream {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes header;
  std::vector<Bytes> pictures;
  std::vector<Bytes> packets;

  Bytes AllPackets() const;
  std::vector<std::uint32_t> PictureSums() const;
};

TestStream MakeTestStream(const StreamRecipe& recipe);

// `pictures` pictures of one payload type, stamped at the frame rate.
TestStream MakeTestStream(std::uint32_t width, std::uint32_t height, std::uint32_t pictures,
                          vdstream::Payload payload, std::uint32_t fps = 25);

// FNV-1a: enough to tell the test pictures apart.
std::uint32_t Checksum(const void* data, std::size_t size);

}  // namespace sp_test
