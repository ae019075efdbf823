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

// Where the first access unit begins in an Annex-B payload (at an access
// unit delimiter, a parameter set, an SEI message or the first slice of a
// picture), or length when none begins there.
std::size_t findAccessUnitStart(vdstream::Codec codec, const std::uint8_t* data,
                                std::size_t length);

// Guesses H.264 or H.265 from the first parameter set or picture in an
// Annex-B payload; None when it cannot tell yet.
vdstream::Codec guessVideoCodec(const std::uint8_t* data, std::size_t length);

class ElementaryStream {
 public:
  static constexpr std::uint32_t kFirstIdleCloseMs = 15;

  // timeline: the demuxer's, shared by all its streams, so that audio and
  // video, and a stream that replaces another, keep one time line.
  ElementaryStream(const StreamKind& kind, std::size_t maxUnitBytes, std::uint32_t nominalFrameMs,
                   TimestampUnwrapper& timeline)
      : kind_(kind),
        maxUnitBytes_(maxUnitBytes),
        nominalFrameMs_(nominalFrameMs),
        unwrapper_(timeline) {}

  const StreamKind& kind() const { return kind_; }

  // A PES packet begins with these payload bytes; more of it follows in
  // continuePes, and endPes says where it ended, where that is known.
  //
  // Audio units are the PES packets. Video units are cut where an access
  // unit begins (a delimiter, parameter sets, an SEI message or the first
  // slice of the next picture, after a picture), wherever that lies in the
  // PES packets: muxers of recordings do not always cut their packets at
  // pictures. A PES packet's time stamp belongs to the first unit that
  // begins in it; a unit without one follows the last by a frame.
  void beginPes(const PesHeader& pes, const std::uint8_t* data, std::size_t length,
                DemuxSink& sink);
  void continuePes(const std::uint8_t* data, std::size_t length, DemuxSink& sink);
  // The PES packet ended: in a transport stream one packet carries one
  // picture, so the unit under way is complete.
  void endPes(DemuxSink& sink);
  // Bytes went missing: the unit under way is lost, and the stream resumes
  // at the next access unit.
  void lose(DemuxSink& sink);
  // Hands on the unit under way (the stream or its map ends).
  void finish(DemuxSink& sink);
  // The same when no bytes came for a while. Should more bytes of the unit
  // come after all, the wait was too short: the unit went out incomplete (it
  // counts as lost) and the next wait is longer.
  void closeIdle(DemuxSink& sink);
  // How long to wait for more bytes of a unit whose end no mark has shown.
  std::uint32_t idleCloseMs() const;
  // A picture is under way; stampMs is its time (as far as known).
  bool holdsOpenUnit(std::uint32_t& stampMs) const;
  std::size_t bytesHeld() const { return bytes_.size(); }
  // Forgets the unit under way.
  void reset();

 private:
  void takeVideo(const std::uint8_t* data, std::size_t length, DemuxSink& sink);
  // Finds the units that are complete in bytes_ and hands them on.
  void cutUnits(DemuxSink& sink);
  // Hands on bytes_[0, end) as a unit; the rest starts the next one, whose
  // start code is at startCode.
  void emitVideo(std::size_t end, DemuxSink& sink, std::size_t startCode = 0);
  void startUnitAt(std::size_t offset, bool usedStamp, std::size_t startCode);
  void emitAudio(DemuxSink& sink);
  std::uint32_t unitStamp() const;
  // Bytes of a unit closed for idleness came after all.
  void closedTooEarly(DemuxSink& sink);

  struct PesStamp {
    std::size_t offset;  // where the PES packet began in bytes_
    std::uint32_t ms;
  };

  StreamKind kind_;
  std::size_t maxUnitBytes_;
  std::uint32_t nominalFrameMs_;
  TimestampUnwrapper& unwrapper_;

  std::vector<std::uint8_t> bytes_;  // the unit under way (and the start of the next)
  std::size_t scanned_ = 0;          // NAL units before this offset are looked at
  bool seenPicture_ = false;         // the unit under way has a slice
  bool resyncing_ = true;            // dropping bytes up to the next access unit
  std::vector<PesStamp> stamps_;     // stamps of PES packets not given to a unit yet
  bool audioOpen_ = false;           // audio: a PES packet is under way
  bool unitStamped_ = false;         // audio: it has a stamp
  std::uint32_t unitStampMs_ = 0;

  bool haveLastStamp_ = false;
  std::uint32_t lastStampMs_ = 0;
  bool lossPending_ = false;  // a unit was lost since the last one handed on
  bool idleClosed_ = false;   // the last unit was closed for idleness
  std::uint32_t earlyCloses_ = 0;
};

}  // namespace vdplay
