// Writer for the VDPS stream format that VdPlay plays (the format itself is
// described in VdPlay.h). Used by the demo host, the tests and benchmarks to
// make streams: one file header, then one packet per picture.
//
//   auto header = vdstream::makeFileHeader(352, 288, 25, 1);
//   std::vector<std::uint8_t> data;
//   vdstream::appendPacket(data, picture, vdstream::pictureBytes(352, 288), stampMs,
//                          vdstream::Payload::Zlib);
//
// Compressed video: the header names the codec and how the data is framed;
// access units go into packets as they are (or, with Framing::AnnexB, the
// bare elementary stream follows the header):
//
//   auto header = vdstream::makeFileHeader(1920, 1080, 25, 1, vdstream::Codec::H264);
//   vdstream::appendPacket(data, accessUnit, accessUnitBytes, ptsMs, vdstream::Payload::H264);
//
// Audio units go into packets of their own, interleaved in time order with
// the pictures (VdPlay plays them on the port that has the sound):
//
//   vdstream::appendPacket(data, aacFrameWithAdts, bytes, ptsMs, vdstream::Payload::AacAdts);
//   vdstream::appendPacket(data, alawBytes, 160, ptsMs, vdstream::Payload::G711ALaw);  // 20 ms
//
// Link the static library `vdstream`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vdstream {

constexpr std::uint32_t kFileHeaderSize = 40;
constexpr std::uint32_t kPacketHeaderSize = 16;
constexpr std::uint16_t kVersion = 1;
constexpr std::uint32_t kPixelFormatI420 = 1;
constexpr std::uint32_t kMaxDimension = 4096;
constexpr char kFileMagic[4] = {'V', 'D', 'P', 'S'};
constexpr char kPacketMagic[4] = {'V', 'D', 'F', 'R'};

enum class Payload : std::uint32_t {
  Raw = 1,   // the I420 picture as it is
  Zlib = 2,  // the I420 picture compressed with zlib
  H264 = 3,  // one H.264 access unit in Annex-B form (start codes), copied as it is
  H265 = 4,  // one H.265 access unit in Annex-B form, copied as it is
  G711ALaw = 5,   // G.711 A-law samples, 8 kHz mono
  G711MuLaw = 6,  // G.711 mu-law samples, 8 kHz mono
  AacAdts = 7,    // AAC frames with their ADTS headers
};

// Largest payload of an audio packet.
constexpr std::uint32_t kMaxAudioPayload = 64 * 1024;

constexpr bool isAudioPayload(std::uint32_t type) {
  return type >= static_cast<std::uint32_t>(Payload::G711ALaw) &&
         type <= static_cast<std::uint32_t>(Payload::AacAdts);
}

// Header offset 28: what the pictures are coded with.
enum class Codec : std::uint32_t {
  None = 0,  // packets carry raw or zlib I420 pictures
  H264 = 1,
  H265 = 2,
};

// Header offset 32: how the data after the header is cut into pictures.
enum class Framing : std::uint32_t {
  Packets = 0,  // VDFR packets with time stamps
  AnnexB = 1,   // a bare Annex-B elementary stream, paced by the header's frame rate
  ProgramStream = 2,    // an MPEG-2 program stream (camera and recorder streams)
  TransportStream = 3,  // an MPEG-2 transport stream of 188-byte packets
};

// With program and transport streams the codec field may be Codec::None: the
// stream map (PS) or the program map table (TS) names it, or, without a map,
// the video's contents do. H264 or H265 there forces that codec.
constexpr bool isMpegFraming(Framing f) {
  return f == Framing::ProgramStream || f == Framing::TransportStream;
}

// Header offsets of the codec and framing fields; offset 36 stays reserved (zero).
constexpr std::uint32_t kCodecOffset = 28;
constexpr std::uint32_t kFramingOffset = 32;

// Source buffer floor of a compressed stream, whatever its picture size:
// what decides is that each access unit fits the pool. A unit larger than
// the pool is skipped as damaged and decoding resumes at the next key picture.
constexpr std::size_t kMinCodecPoolBytes = 64 * 1024;

// Bytes of one I420 picture: full-size Y plane, quarter-size U and V planes.
constexpr std::size_t pictureBytes(std::uint32_t width, std::uint32_t height) {
  return static_cast<std::size_t>(width) * height * 3 / 2;
}

// Largest payload a packet for this picture size may carry (zlib's bound for
// compressing one picture; a raw picture is smaller).
std::size_t maxPayloadBytes(std::uint32_t width, std::uint32_t height);

// Smallest source buffer (poolBytes) VdPlay_OpenStream accepts for this
// picture size: one packet with the largest payload.
std::size_t minPoolBytes(std::uint32_t width, std::uint32_t height);

// Smallest source buffer of a compressed stream (the floor described above).
constexpr std::size_t minCodecPoolBytes(std::uint32_t, std::uint32_t) {
  return kPacketHeaderSize + kMinCodecPoolBytes;
}

// Smallest source buffer for a stream of this codec: minPoolBytes(w, h) for
// Codec::None, minCodecPoolBytes(w, h) for H.264 and H.265.
std::size_t minPoolBytes(std::uint32_t width, std::uint32_t height, Codec codec);

// The 40-byte file header. The values are written as given; VdPlay refuses
// odd, zero or oversized pictures and a zero frame rate.
std::vector<std::uint8_t> makeFileHeader(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t fpsNum, std::uint32_t fpsDen);

// The file header of a compressed stream. width and height are the nominal
// picture size; the decoder follows the size coded in the bitstream.
std::vector<std::uint8_t> makeFileHeader(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t fpsNum, std::uint32_t fpsDen, Codec codec,
                                         Framing framing = Framing::Packets);

// Appends one packet carrying the picture (size bytes, normally
// pictureBytes(w, h)) to out. zlibLevel 0..9 applies to Payload::Zlib.
// Payload::H264 and H265 carry one access unit (data, size bytes) as it is,
// stampMs being its presentation time; so do the audio payloads (G711ALaw,
// G711MuLaw, AacAdts: up to kMaxAudioPayload bytes of audio).
// Returns false, leaving out as it was, if compression fails.
bool appendPacket(std::vector<std::uint8_t>& out, const std::uint8_t* picture, std::size_t size,
                  std::uint32_t stampMs, Payload type, int zlibLevel = 1);

// The same as a vector of its own; empty if compression fails.
std::vector<std::uint8_t> makePacket(const std::uint8_t* picture, std::size_t size,
                                     std::uint32_t stampMs, Payload type, int zlibLevel = 1);

// Fills an I420 picture with eight vertical colour bars that move one bar
// width per 8 frames, plus a bright square whose position depends on
// frameIndex, so consecutive frames differ. width and height must be even.
void fillTestPicture(std::uint8_t* picture, std::uint32_t width, std::uint32_t height,
                     std::uint32_t frameIndex);

}  // namespace vdstream
