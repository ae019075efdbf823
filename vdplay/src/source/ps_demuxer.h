// MPEG-2 program stream: pack headers, the system header, the program
// stream map and PES packets. The first video stream and the first audio
// stream are played; without a map they are recognised by their stream ids
// and contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "source/demuxer.h"
#include "source/elementary_stream.h"

namespace vdplay {

class PsDemuxer final : public Demuxer {
 public:
  PsDemuxer(vdstream::Codec forcedCodec, std::size_t maxUnitBytes, std::uint32_t nominalFrameMs);

  void push(const std::uint8_t* data, std::size_t length, DemuxSink& sink) override;
  bool holdsOpenUnit(std::uint32_t& stampMs) const override;
  void closeOpenUnit(DemuxSink& sink) override;
  std::uint32_t idleCloseMs() const override;
  std::size_t bytesHeld() const override;
  void reset() override;

 private:
  // Size of the element (pack header, table or PES packet) at p, 0 when
  // more bytes are needed to tell.
  std::size_t elementSize(const std::uint8_t* p, std::size_t n) const;
  // Takes every whole element at the front of pending_.
  void parse(DemuxSink& sink);
  void element(const std::uint8_t* p, std::size_t n, DemuxSink& sink);
  void streamMap(const std::uint8_t* p, std::size_t n, DemuxSink& sink);
  void pesPacket(const std::uint8_t* p, std::size_t n, DemuxSink& sink);
  // The played stream a PES stream id belongs to; nullptr when not played.
  ElementaryStream* streamFor(std::uint8_t id, const std::uint8_t* payload, std::size_t n);
  void lostSync(DemuxSink& sink);

  struct Played {
    int id = -1;  // PES stream id; -1: none yet
    std::unique_ptr<ElementaryStream> stream;
  };
  void play(Played& played, int id, const StreamKind& kind, DemuxSink& sink);

  vdstream::Codec forcedCodec_;
  std::size_t maxUnitBytes_;
  std::uint32_t nominalFrameMs_;
  TimestampUnwrapper timeline_;  // one time line for every stream
  std::vector<std::uint8_t> pending_;
  std::size_t start_ = 0;  // first byte of pending_ not yet used
  bool synced_ = false;    // a pack header was seen and every element since was whole
  bool mapped_ = false;    // a stream map decides which streams play
  Played video_;
  Played audio_;
};

}  // namespace vdplay
