#include "support/TestStreams.h"

namespace sp_test {

Bytes TestStream::AllPackets() const {
  Bytes all;
  for (const Bytes& p : packets) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<std::uint32_t> TestStream::PictureSums() const {
  std::vector<std::uint32_t> sums;
  for (const Bytes& p : pictures) sums.push_back(Checksum(p.data(), p.size()));
  return sums;
}

TestStream MakeTestStream(const StreamRecipe& recipe) {
  TestStream s;
  s.width = recipe.width;
  s.height = recipe.height;
  s.header = vdstream::makeFileHeader(recipe.width, recipe.height, recipe.fps, 1);
  for (std::uint32_t i = 0; i < recipe.pictures; ++i) {
    Bytes picture(vdstream::pictureBytes(recipe.width, recipe.height));
    vdstream::fillTestPicture(picture.data(), recipe.width, recipe.height, i);
    const std::uint32_t stamp =
        recipe.stampStepMs != 0 ? i * recipe.stampStepMs : i * 1000 / recipe.fps;
    vdstream::Payload payload = recipe.payload;
    if (recipe.alternateZlib) payload = i % 2 ? vdstream::Payload::Zlib : vdstream::Payload::Raw;
    s.packets.push_back(vdstream::makePacket(picture.data(), picture.size(), stamp, payload));
    s.pictures.push_back(std::move(picture));
  }
  return s;
}

TestStream MakeTestStream(std::uint32_t width, std::uint32_t height, std::uint32_t pictures,
                          vdstream::Payload payload, std::uint32_t fps) {
  StreamRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.pictures = pictures;
  recipe.payload = payload;
  recipe.fps = fps;
  return MakeTestStream(recipe);
}

std::uint32_t Checksum(const void* data, std::size_t size) {
  std::uint32_t hash = 2166136261u;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

}  // namespace sp_test
