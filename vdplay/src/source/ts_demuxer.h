// MPEG-2 transport stream: 188-byte packets (or 192-byte ones, each with a
// 4-byte time code in front, as .m2ts files have them), the program
// association and program map tables, PES packets reassembled per PID. The first program's
// first video stream and first audio stream are played; others are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "source/demuxer.h"
#include "source/elementary_stream.h"

namespace vdplay {

class TsDemuxer final : public Demuxer {
 public:
  static constexpr std::size_t kPacketSize = 188;
  static constexpr std::size_t kTimecodedPacketSize = 192;

  TsDemuxer(vdstream::Codec forcedCodec, std::size_t maxUnitBytes, std::uint32_t nominalFrameMs);

  void push(const std::uint8_t* data, std::size_t length, DemuxSink& sink) override;
  bool holdsOpenUnit(std::uint32_t& stampMs) const override;
  void closeOpenUnit(DemuxSink& sink) override;
  std::uint32_t idleCloseMs() const override;
  std::size_t bytesHeld() const override;
  void reset() override;

 private:
  struct Pid {
    std::unique_ptr<ElementaryStream> stream;  // a played PES stream
    std::vector<std::uint8_t> section;         // a table being put together
    int lastCounter = -1;
    std::size_t pesRemaining = 0;  // bytes left of a PES packet of stated length; 0: unbounded
  };

  // Consumes a run of bytes that starts at a packet boundary (or not, after
  // a loss of sync); returns how many bytes are used, which may pass the
  // end by the time code of a 192-byte packet.
  std::size_t scan(const std::uint8_t* data, std::size_t length, DemuxSink& sink);
  void packet(const std::uint8_t* p, DemuxSink& sink);
  void tablePayload(std::uint16_t pid, Pid& state, const std::uint8_t* p, std::size_t n,
                    bool unitStart, DemuxSink& sink);
  void takeSections(std::uint16_t pid, Pid& state, DemuxSink& sink);
  void section(std::uint16_t pid, const std::uint8_t* s, std::size_t n, DemuxSink& sink);
  void programAssociation(const std::uint8_t* s, std::size_t n);
  void programMap(const std::uint8_t* s, std::size_t n, DemuxSink& sink);
  void playStream(int& playedPid, int pid, const StreamKind& kind, DemuxSink& sink);
  void lostSync(DemuxSink& sink);
  ElementaryStream* videoStream() const;
  void pesPayload(Pid& state, const std::uint8_t* p, std::size_t n, bool unitStart, bool lastOfPes,
                  DemuxSink& sink);

  vdstream::Codec forcedCodec_;
  std::size_t maxUnitBytes_;
  std::uint32_t nominalFrameMs_;
  TimestampUnwrapper timeline_;      // one time line for every stream
  std::vector<std::uint8_t> carry_;  // the start of a packet not yet complete
  bool synced_ = false;
  std::size_t stride_ = kPacketSize;  // from one packet's sync byte to the next
  std::size_t timecodeToSkip_ = 0;    // of the next packet, not yet come
  std::map<std::uint16_t, Pid> pids_;
  int pmtPid_ = -1;
  int videoPid_ = -1;
  int audioPid_ = -1;
};

}  // namespace vdplay
