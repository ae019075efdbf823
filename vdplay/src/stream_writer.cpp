// Writer half of the VDPS format: file header, packets and a test picture.
#include "VdStreamFormat.h"

#include <zlib.h>

#include <cstring>

#include "little_endian.h"

namespace vdstream {
namespace {

using vdplay::le::put16;
using vdplay::le::put32;

void putPacketHeader(std::uint8_t* p, std::uint32_t payloadSize, std::uint32_t stampMs,
                     Payload type) {
  std::memcpy(p, kPacketMagic, 4);
  put32(p + 4, payloadSize);
  put32(p + 8, stampMs);
  put32(p + 12, static_cast<std::uint32_t>(type));
}

}  // namespace

std::size_t maxPayloadBytes(std::uint32_t width, std::uint32_t height) {
  const std::size_t raw = pictureBytes(width, height);
  const std::size_t packed = compressBound(static_cast<uLong>(raw));
  return packed > raw ? packed : raw;
}

std::size_t minPoolBytes(std::uint32_t width, std::uint32_t height) {
  return kPacketHeaderSize + maxPayloadBytes(width, height);
}

std::size_t minPoolBytes(std::uint32_t width, std::uint32_t height, Codec codec) {
  return codec == Codec::None ? minPoolBytes(width, height) : minCodecPoolBytes(width, height);
}

std::vector<std::uint8_t> makeFileHeader(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t fpsNum, std::uint32_t fpsDen, Codec codec,
                                         Framing framing) {
  std::vector<std::uint8_t> h = makeFileHeader(width, height, fpsNum, fpsDen);
  put32(&h[kCodecOffset], static_cast<std::uint32_t>(codec));
  put32(&h[kFramingOffset], static_cast<std::uint32_t>(framing));
  return h;
}

std::vector<std::uint8_t> makeFileHeader(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t fpsNum, std::uint32_t fpsDen) {
  std::vector<std::uint8_t> h(kFileHeaderSize, 0);
  std::memcpy(h.data(), kFileMagic, 4);
  put16(&h[4], kVersion);
  put16(&h[6], static_cast<std::uint16_t>(kFileHeaderSize));
  put32(&h[8], width);
  put32(&h[12], height);
  put32(&h[16], fpsNum);
  put32(&h[20], fpsDen);
  put32(&h[24], kPixelFormatI420);
  return h;
}

bool appendPacket(std::vector<std::uint8_t>& out, const std::uint8_t* picture, std::size_t size,
                  std::uint32_t stampMs, Payload type, int zlibLevel) {
  const std::size_t start = out.size();
  if (type != Payload::Zlib) {  // raw pictures and access units go in as they are
    out.resize(start + kPacketHeaderSize + size);
    putPacketHeader(&out[start], static_cast<std::uint32_t>(size), stampMs, type);
    if (size) std::memcpy(&out[start + kPacketHeaderSize], picture, size);
    return true;
  }
  uLongf packed = compressBound(static_cast<uLong>(size));
  out.resize(start + kPacketHeaderSize + packed);
  if (compress2(&out[start + kPacketHeaderSize], &packed, picture, static_cast<uLong>(size),
                zlibLevel) != Z_OK) {
    out.resize(start);
    return false;
  }
  out.resize(start + kPacketHeaderSize + packed);
  putPacketHeader(&out[start], static_cast<std::uint32_t>(packed), stampMs, type);
  return true;
}

std::vector<std::uint8_t> makePacket(const std::uint8_t* picture, std::size_t size,
                                     std::uint32_t stampMs, Payload type, int zlibLevel) {
  std::vector<std::uint8_t> out;
  appendPacket(out, picture, size, stampMs, type, zlibLevel);
  return out;
}

void fillTestPicture(std::uint8_t* picture, std::uint32_t width, std::uint32_t height,
                     std::uint32_t frameIndex) {
  // Y, U, V of white, yellow, cyan, green, magenta, red, blue, black.
  static const std::uint8_t bars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16},
                                          {145, 54, 34},   {106, 202, 222}, {81, 90, 240},
                                          {41, 240, 110},  {16, 128, 128}};
  std::uint8_t* y = picture;
  std::uint8_t* u = y + static_cast<std::size_t>(width) * height;
  std::uint8_t* v = u + static_cast<std::size_t>(width / 2) * (height / 2);
  const std::uint32_t barWidth = width >= 8 ? width / 8 : 1;
  const std::uint32_t shift = frameIndex / 8;
  const std::uint32_t square = height / 4 > 0 ? height / 4 : 1;
  const std::uint32_t sqX = (frameIndex * 4) % (width > square ? width - square : 1);
  const std::uint32_t sqY = (frameIndex * 2) % (height > square ? height - square : 1);
  for (std::uint32_t row = 0; row < height; ++row) {
    for (std::uint32_t col = 0; col < width; ++col) {
      const std::uint32_t bar = (col / barWidth + shift) % 8;
      const bool inSquare = col >= sqX && col < sqX + square && row >= sqY && row < sqY + square;
      y[static_cast<std::size_t>(row) * width + col] = inSquare ? 235 : bars[bar][0];
      if ((row | col) % 2 == 0) {
        const std::size_t c = static_cast<std::size_t>(row / 2) * (width / 2) + col / 2;
        u[c] = inSquare ? 128 : bars[bar][1];
        v[c] = inSquare ? 128 : bars[bar][2];
      }
    }
  }
}

}  // namespace vdstream
