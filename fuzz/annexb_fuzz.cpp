// Fuzzes what the Windows decoder reads from a bare H.264/H.265 stream
// before any decoder sees it: the Annex-B access-unit splitter over bytes
// split at arbitrary points, the header reader on every unit, and the BT.601
// rewrite of H.264 sequence parameter sets (portable code, fuzzed natively).
//
// Input layout:
//   [0]   flags: bit 0 H.265 (else H.264); bit 1 ends the stream once midway
//   [1]   seed of the split points
//   [2..] the stream, pushed in pieces of 1 to 4096 bytes
//
// Checks: the units given out are never empty and add up to no more than the
// bytes pushed; nothing is held after the end; a cropping window lies inside
// the coded picture; a rewritten unit reads as the same picture and needs no
// second rewrite.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/annexb_splitter.h"
#include "decode/h26x_headers.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void inspectUnit(vdplay::VideoCodec codec, vdplay::H26xHeaders& headers, const std::uint8_t* data,
                 std::size_t size) {
  const vdplay::UnitInfo info = headers.inspect(data, size);
  if (info.window.valid()) {
    check(info.window.left + info.window.width <= info.window.codedWidth);
    check(info.window.top + info.window.height <= info.window.codedHeight);
  }
  if (codec != vdplay::VideoCodec::H264) return;
  std::vector<std::uint8_t> rewritten;
  if (!vdplay::withBt601Colour(data, size, rewritten)) return;
  vdplay::H26xHeaders again(codec);
  const vdplay::UnitInfo after = again.inspect(rewritten.data(), rewritten.size());
  check(after.hasSlice == info.hasSlice);
  std::vector<std::uint8_t> twice;
  check(!vdplay::withBt601Colour(rewritten.data(), rewritten.size(), twice));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const vdplay::VideoCodec codec =
      (data[0] & 1) ? vdplay::VideoCodec::H265 : vdplay::VideoCodec::H264;
  const bool endMidway = (data[0] & 2) != 0;
  std::uint32_t seed = data[1] * 2654435761u + 1;
  const std::uint8_t* stream = data + 2;
  const std::size_t length = size - 2;

  vdplay::AnnexBSplitter splitter(codec);
  vdplay::H26xHeaders headers(codec);
  std::size_t out = 0;
  auto take = [&] {
    const std::uint8_t* unit = nullptr;
    std::size_t unitSize = 0;
    while (splitter.next(unit, unitSize)) {
      check(unitSize > 0);
      out += unitSize;
      inspectUnit(codec, headers, unit, unitSize);
    }
  };
  std::size_t at = 0;
  bool ended = false;
  while (at < length) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t piece = std::min<std::size_t>(1 + (seed >> 8) % 4096, length - at);
    splitter.push(stream + at, piece);
    at += piece;
    take();
    if (endMidway && !ended && at >= length / 2) {
      splitter.end();
      take();
      ended = true;
    }
  }
  splitter.end();
  take();
  check(!splitter.holds());
  check(out <= length);
  return 0;
}
