// The parts of the codec clips that do not depend on how a clip was made:
// the clip as a stream, and the comparison of pictures.
#include <cmath>

#include "CodecClips.h"

namespace sp_test {

Bytes Clip::Header(vdstream::Framing framing, std::uint32_t fps) const {
  return vdstream::makeFileHeader(recipe.width, recipe.height, fps ? fps : recipe.fps, 1, recipe.codec,
                                  framing);
}

Bytes Clip::Packets(std::size_t firstUnit) const {
  const auto type =
      recipe.codec == vdstream::Codec::H265 ? vdstream::Payload::H265 : vdstream::Payload::H264;
  Bytes out;
  for (std::size_t i = firstUnit; i < units.size(); ++i)
    vdstream::appendPacket(out, units[i].data.data(), units[i].data.size(), units[i].ptsMs, type);
  return out;
}

Bytes Clip::AnnexB(std::size_t firstUnit) const {
  Bytes out;
  for (std::size_t i = firstUnit; i < units.size(); ++i)
    out.insert(out.end(), units[i].data.begin(), units[i].data.end());
  return out;
}

std::vector<MpegUnit> Clip::MpegUnits(std::uint64_t firstPts) const {
  std::vector<MpegUnit> out;
  for (const AccessUnit& u : units) {
    MpegUnit m;
    m.data = u.data;
    m.pts = firstPts + static_cast<std::uint64_t>(u.ptsMs) * 90;
    m.key = u.key;
    out.push_back(std::move(m));
  }
  return out;
}

std::size_t Clip::TotalBytes() const {
  std::size_t n = 0;
  for (const AccessUnit& u : units) n += u.data.size();
  return n;
}

double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  double sum = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(size) / sum);
}

}  // namespace sp_test
