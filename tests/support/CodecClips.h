// Real H.264 / H.265 clips for the tests, made at test time: the `ffmpeg`
// command encodes a moving test pattern into MPEG-TS, libavformat cuts it
// into access units (Annex-B, with presentation times), and `ffmpeg` decodes
// it again as the reference the stand-in's pictures are compared with.
#pragma once

#include <VdStreamFormat.h>

#include "support/MpegStreams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sp_test {

using Bytes = std::vector<std::uint8_t>;

struct ClipRecipe {
  vdstream::Codec codec = vdstream::Codec::H264;
  std::uint32_t width = 352;
  std::uint32_t height = 288;
  std::uint32_t fps = 25;
  std::uint32_t frames = 50;
  std::uint32_t bFrames = 3;  // consecutive B-pictures at most (decode order differs)
  std::uint32_t gop = 25;     // key picture interval
  bool openGop = false;
  std::string quality = "23";  // the encoder's constant rate factor: lower is larger
  std::uint32_t bitrateKbps = 0;  // when set, a constant bit rate instead of the quality
  std::string filter;             // an FFmpeg video filter after the pattern, e.g. noise
  bool decodeReference = true;    // the reference pictures (3 MB each at 1080p)
};

struct AccessUnit {
  Bytes data;          // Annex-B, start codes included
  std::uint32_t ptsMs = 0;
  bool key = false;
};

struct Clip {
  ClipRecipe recipe;
  std::vector<AccessUnit> units;      // in decode order
  std::vector<Bytes> reference;       // I420 pictures in display order, FFmpeg's own decode
                                      // (none unless recipe.decodeReference)
  std::vector<std::uint32_t> displayPtsMs;  // presentation times in display order
  Bytes transportStream;        // the encoder's own MPEG-TS file, as it is
  std::uint32_t firstPtsMs = 0;  // its first presentation time (units count from it)

  // The file header, and the stream in the stand-in's packets or bare.
  Bytes Header(vdstream::Framing framing = vdstream::Framing::Packets,
               std::uint32_t fps = 0) const;
  Bytes Packets(std::size_t firstUnit = 0) const;
  // The units for a program or transport stream of the tests' own writer,
  // presentation times counted from firstPts (90 kHz).
  std::vector<MpegUnit> MpegUnits(std::uint64_t firstPts = 0) const;
  Bytes AnnexB(std::size_t firstUnit = 0) const;
  std::size_t TotalBytes() const;
};

// Encodes, demuxes and decodes the clip; returns an empty clip (and says why
// on stderr) when a step fails. Clips are cached per recipe for the life of the
// program.
const Clip& MakeClip(const ClipRecipe& recipe);

// Peak signal-to-noise ratio of two pictures of the same size, in dB
// (99 when they are equal).
double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

}  // namespace sp_test
