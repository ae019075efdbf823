#include "source/demuxer.h"

#include "source/ps_demuxer.h"
#include "source/ts_demuxer.h"

namespace vdplay {

std::unique_ptr<Demuxer> createDemuxer(vdstream::Framing framing, vdstream::Codec codec,
                                       std::size_t maxUnitBytes, std::uint32_t nominalFrameMs) {
  switch (framing) {
    case vdstream::Framing::ProgramStream:
      return std::unique_ptr<Demuxer>(new PsDemuxer(codec, maxUnitBytes, nominalFrameMs));
    case vdstream::Framing::TransportStream:
      return std::unique_ptr<Demuxer>(new TsDemuxer(codec, maxUnitBytes, nominalFrameMs));
    default: return nullptr;
  }
}

}  // namespace vdplay
