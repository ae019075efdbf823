// The transport stream demuxer over arbitrary bytes.
#include "demuxer_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzDemuxer(vdstream::Framing::TransportStream, data, size);
}
