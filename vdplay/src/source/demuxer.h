// Demuxers for the MPEG-2 program and transport stream framings: they take
// the host's bytes in pieces of any size and give out whole access units of
// the video stream (for the picture decoder) and of the audio stream (for the
// sound stage). Both demuxers share this interface and the unit assembly.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "VdStreamFormat.h"
#include "source/audio_queue.h"

namespace vdplay {

struct VideoUnit {
  std::vector<std::uint8_t> bytes;  // one access unit in Annex-B form
  std::uint32_t stampMs = 0;        // presentation time (PTS) in milliseconds
  vdstream::Codec codec = vdstream::Codec::None;
  bool afterLoss = false;  // units before this one were lost: decode from a key picture
  std::chrono::steady_clock::time_point wholeAt{};  // when the source had it whole
};

// Where a demuxer puts what it found.
class DemuxSink {
 public:
  virtual ~DemuxSink() = default;
  virtual void video(VideoUnit&& unit) = 0;
  virtual void audio(AudioUnit&& unit) = 0;
  // A unit was lost (bytes missing, too large for the pool, damaged headers).
  virtual void damaged() = 0;
};

class Demuxer {
 public:
  virtual ~Demuxer() = default;
  // Takes the next bytes of the stream.
  virtual void push(const std::uint8_t* data, std::size_t length, DemuxSink& sink) = 0;
  // A video unit has begun whose end no mark has shown yet; stampMs is its
  // presentation time.
  virtual bool holdsOpenUnit(std::uint32_t& stampMs) const = 0;
  // No more bytes came for idleCloseMs(): the open unit is taken as
  // complete. The wait starts short, for live sources that push a picture's
  // bytes together, and grows each time more bytes of a closed unit come
  // after all (a host that trickles a file in).
  virtual void closeOpenUnit(DemuxSink& sink) = 0;
  virtual std::uint32_t idleCloseMs() const = 0;
  // Bytes held (partial packets and units being assembled).
  virtual std::size_t bytesHeld() const = 0;
  // Forgets everything: the next bytes may start anywhere in a stream.
  virtual void reset() = 0;
};

// codec: the header's codec field; None means "as the stream says".
// maxUnitBytes: an access unit larger than this is dropped as damaged.
std::unique_ptr<Demuxer> createDemuxer(vdstream::Framing framing, vdstream::Codec codec,
                                       std::size_t maxUnitBytes, std::uint32_t nominalFrameMs);

}  // namespace vdplay
