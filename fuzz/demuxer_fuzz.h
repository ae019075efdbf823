// The driver of the two demuxer targets: arbitrary bytes pushed in pieces
// of sizes the input chooses, with the port's idle closes and buffer resets
// in between. Every unit that comes out must be whole and within the pool,
// and what the demuxer holds must stay bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "source/demuxer.h"

namespace {

constexpr std::size_t kPool = 64 * 1024;

struct CheckingSink : vdplay::DemuxSink {
  void video(vdplay::VideoUnit&& unit) override {
    if (unit.bytes.empty() || unit.bytes.size() > kPool) std::abort();
    if (unit.codec == vdstream::Codec::None) std::abort();
  }
  void audio(vdplay::AudioUnit&& unit) override {
    if (unit.bytes.size() > kPool) std::abort();
  }
  void damaged() override {}
};

int fuzzDemuxer(vdstream::Framing framing, const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: the forced codec and the piece size; second: how often the
  // port closes an idle unit or resets the buffer.
  const auto codec = static_cast<vdstream::Codec>(data[0] % 3);
  const std::size_t piece = 1 + (data[0] >> 2) * 37;
  const unsigned every = 1 + data[1] % 16;
  auto demuxer = vdplay::createDemuxer(framing, codec, kPool, 40);
  CheckingSink sink;
  unsigned pushes = 0;
  for (std::size_t at = 2; at < size; at += piece) {
    const std::size_t n = size - at < piece ? size - at : piece;
    demuxer->push(data + at, n, sink);
    // What waits is a partial packet or element, and units within the pool.
    if (demuxer->bytesHeld() > 4 * kPool + 70 * 1024) std::abort();
    std::uint32_t stamp = 0;
    if (++pushes % every == 0 && demuxer->holdsOpenUnit(stamp)) demuxer->closeOpenUnit(sink);
    if (pushes % (every * 7) == 0) demuxer->reset();
  }
  demuxer->closeOpenUnit(sink);
  return 0;
}

}  // namespace
