// One elementary stream of a program or transport stream as its access
// units are put together from PES payloads: the bytes of the unit under
// way, its time stamp, and whether bytes of it went missing. Finished units
// go to the demuxer's sink: video units to the picture decoder, audio units
// to the sound stage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "VdStreamFormat.h"
#include "source/audio_queue.h"
#include "source/demuxer.h"
#include "source/pes_header.h"

namespace vdplay {

// What a stream carries, from the stream map or from its content.
struct StreamKind {
  bool video = false;
  vdstream::Codec videoCodec = vdstream::Codec::None;  // video; None = not known yet
  AudioCodec audioCodec = AudioCodec::G711ALaw;        // audio
  bool operator==(const StreamKind& o) const {
    return video == o.video && (video ? videoCodec == o.videoCodec : audioCodec == o.audioCodec);
  }
  bool operator!=(const StreamKind& o) const { return !(*this == o); }
};

// The kind of a stream type of a program stream map or a PMT; false for
// types this library does not play.
bool streamKindOfType(std::uint8_t streamType, StreamKind& kind);

// Guesses H.264 or H.265 from the first parameter set or picture in an
// Annex-B payload; None when it cannot tell yet.
vdstream::Codec guessVideoCodec(const std::uint8_t* data, std::size_t length);

class ElementaryStream {
 public:
  // timeline: the demuxer's, shared by all its streams, so that audio and
  // video, and a stream that replaces another, keep one time line.
  ElementaryStream(const StreamKind& kind, std::size_t maxUnitBytes, std::uint32_t nominalFrameMs,
                   TimestampUnwrapper& timeline)
      : kind_(kind), maxUnitBytes_(maxUnitBytes), nominalFrameMs_(nominalFrameMs),
        unwrapper_(timeline) {}

  const StreamKind& kind() const { return kind_; }
  void setKind(const StreamKind& kind) { kind_ = kind; }

  // A PES packet begins: hands on the unit under way when the packet starts
  // a new one (it has a time stamp, or this stream does not join payloads).
  void beginPes(const PesHeader& pes, DemuxSink& sink);
  void append(const std::uint8_t* data, std::size_t length);
  // Bytes of the unit under way went missing: it is dropped when finished.
  void markBroken() {
    if (open_) broken_ = true;
  }
  // Hands on the unit under way, if any.
  void finish(DemuxSink& sink);
  bool open() const { return open_; }
  std::size_t bytesHeld() const { return bytes_.size(); }
  // Forgets the unit under way.
  void reset();

 private:
  void emitVideo(DemuxSink& sink);

  StreamKind kind_;
  std::size_t maxUnitBytes_;
  std::uint32_t nominalFrameMs_;
  TimestampUnwrapper& unwrapper_;
  std::vector<std::uint8_t> bytes_;
  bool open_ = false;
  bool broken_ = false;
  bool stamped_ = false;
  std::uint32_t stampMs_ = 0;
  bool haveLastStamp_ = false;
  std::uint32_t lastStampMs_ = 0;
  bool lossPending_ = false;  // a unit was lost since the last one handed on
};

}  // namespace vdplay
