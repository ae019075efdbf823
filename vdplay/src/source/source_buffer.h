// A port's source: the bytes the host pushed, in the buffer pool the host
// asked for, cut into the units the decoder takes. Host threads append;
// the port's thread takes one unit at a time, and the unit's bytes are let go
// as soon as the decoder has taken them, so nothing waits for the display.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>

#include "frame.h"
#include "frame_pool.h"
#include "VdStreamFormat.h"
#include "source/arrival_times.h"
#include "source/audio_queue.h"
#include "source/byte_ring.h"
#include "source/demuxer.h"
#include "source/input_reader.h"
#include "source/stream_header.h"

namespace vdplay {

// One unit for the decoder: its bytes, and for a raw picture that was pushed
// as one whole packet, the pooled storage that already holds it, which a
// decoder may take over instead of copying the bytes.
struct SourceUnit {
  ByteRing::View bytes;
  std::uint32_t type = 0;
  std::uint32_t stampMs = 0;
  std::shared_ptr<FrameBuffer> whole;
  vdstream::Codec codec = vdstream::Codec::None;  // what the unit is coded with
  bool afterLoss = false;  // units before it were lost: decode from the next key picture
};

class SourceBuffer {
 public:
  explicit SourceBuffer(const StreamFormat& format);
  SourceBuffer(const SourceBuffer&) = delete;
  SourceBuffer& operator=(const SourceBuffer&) = delete;

  // Reserves the pool. False when out of memory.
  bool allocate(std::size_t poolBytes);

  // Appends all bytes, or none when they do not fit. Program and transport
  // streams are taken apart here, as they arrive: what waits in the pool is
  // their access units.
  bool write(const std::uint8_t* data, std::size_t length);

  // A program or transport stream has a video unit under way whose end no
  // mark has shown yet; once no bytes come for a while, closeOpenUnit takes
  // it as complete (unless the buffer was cleared since clearsSeen).
  // closeAt: when it is taken as complete if no bytes come before;
  // stampMs: its time.
  bool holdsOpenUnit(std::chrono::steady_clock::time_point& closeAt, std::uint32_t& stampMs) const;
  void closeOpenUnit(std::uint64_t clearsSeen);
  // Forgets every byte waiting.
  void clear();
  // Counts the clears: a unit is taken only while this is what its taker
  // last saw, so nothing that came after a clear reaches a decoder that has
  // not been flushed for it yet.
  std::uint64_t clears() const;
  std::size_t bytesWaiting() const;
  // Counts the writes that added bytes: a reader that found no unit waits
  // until this changes.
  std::uint64_t writes() const;

  // The stream's audio units, for the sound stage.
  AudioQueue& audio() { return audio_; }

  struct Taken {
    bool found = false;        // a unit was handed over
    bool accepted = false;     // and its user took it
    std::uint32_t damaged = 0; // damaged packets dropped on the way
    // When the unit came whole, and whether the host found the pool full
    // since the unit before was taken (it pushes ahead of the pictures).
    std::chrono::steady_clock::time_point cameAt{};
    bool poolWasFull = false;
  };
  // Hands the next unit to use(const SourceUnit&), which returns whether it
  // took it, then lets go of the unit either way; nothing when the buffer
  // was cleared since clearsSeen. Runs use under the buffer's lock: writers
  // wait meanwhile, for one unit at most.
  template <class Use>
  Taken takeUnit(std::uint64_t clearsSeen, Use&& use) {
    std::lock_guard<std::mutex> lk(m_);
    Taken taken;
    if (clears_ != clearsSeen) return taken;
    if (demuxer_) {
      taken.damaged = demuxDamaged_;
      demuxDamaged_ = 0;
      if (demuxed_.empty()) return taken;
      const VideoUnit unit = std::move(demuxed_.front());
      demuxed_.pop_front();
      demuxedBytes_ -= unit.bytes.size();
      SourceUnit source;
      source.bytes.first = unit.bytes.data();
      source.bytes.firstLen = unit.bytes.size();
      source.stampMs = unit.stampMs;
      source.codec = unit.codec;
      source.afterLoss = unit.afterLoss;
      taken.found = true;
      taken.accepted = use(static_cast<const SourceUnit&>(source));
      taken.cameAt = unit.wholeAt;
      notePoolFull(taken);
      return taken;
    }
    if (!whole_.empty()) {
      const WholePacket packet = std::move(whole_.front());
      whole_.pop_front();
      wholeBytes_ -= packet.totalSize;
      taken.found = true;
      taken.accepted = use(packet.unit);
      taken.cameAt = packet.cameAt;
      notePoolFull(taken);
      return taken;
    }
    InputUnit unit;
    for (;;) {
      const InputReader::Result found = reader_.next(ring_, unit);
      taken.damaged += found.damaged;
      if (!found.found) return taken;
      if (!vdstream::isAudioPayload(unit.type)) break;
      if (!queuedAhead_.empty() && queuedAhead_.front() == ringFront()) {
        queuedAhead_.pop_front();  // its copy went to the audio queue when it came
        ring_.consume(unit.totalSize);
      } else {
        queueAudioPacket(unit);
      }
    }
    taken.found = true;
    SourceUnit source;
    source.bytes = ring_.view(unit.offset, unit.size);
    source.type = unit.type;
    source.stampMs = unit.stampMs;
    source.codec = format_.codec;
    taken.accepted = use(source);
    taken.cameAt = arrivals_.timeOf(ringFront() + unit.totalSize);
    ring_.consume(unit.totalSize);
    arrivals_.forget(ringFront());
    scanAudioAhead();
    notePoolFull(taken);
    return taken;
  }

 private:
  // A raw picture pushed as one whole packet, kept in pooled storage rather
  // than in the ring: it then reaches the display with one copy, not two.
  struct WholePacket {
    SourceUnit unit;
    std::size_t totalSize = 0;  // with its packet header, as it counts in the pool
    std::chrono::steady_clock::time_point cameAt{};
  };
  bool takeWholePacket(const std::uint8_t* data, std::size_t length);
  // Moves an audio packet from the ring to the audio queue.
  void queueAudioPacket(const InputUnit& unit);
  // Copies the audio packets that have come whole into the audio queue at
  // once, ahead of the pictures before them, so that the sound stage has
  // them in time (the sound leads; the pictures follow it). Only over
  // well-formed packets from the front on: at the first bytes that are no
  // packet it stops until the parser has dealt with them.
  void scanAudioAhead();
  void notePoolFull(Taken& taken) {
    taken.poolWasFull = refusals_ != refusalsAtTake_;
    refusalsAtTake_ = refusals_;
  }
  void copyAudio(std::size_t offset, std::uint32_t size, std::uint32_t type, std::uint32_t stampMs);
  std::uint64_t ringFront() const { return ringIn_ - ring_.size(); }
  std::size_t waitingLocked() const;
  // Where a demuxer's finds go.
  class DemuxOutput final : public DemuxSink {
   public:
    explicit DemuxOutput(SourceBuffer& source) : source_(source) {}
    void video(VideoUnit&& unit) override;
    void audio(AudioUnit&& unit) override { source_.audio_.push(std::move(unit)); }
    void damaged() override { ++source_.demuxDamaged_; }

   private:
    SourceBuffer& source_;
  };

  const StreamFormat format_;
  mutable std::mutex m_;
  ByteRing ring_;
  InputReader reader_;
  AudioQueue audio_;
  std::uint64_t ringIn_ = 0;   // bytes ever written into the ring
  std::uint64_t scanAt_ = 0;   // where scanAudioAhead goes on (as ringIn_ counts)
  std::deque<std::uint64_t> queuedAhead_;  // audio packets already queued, by position
  std::shared_ptr<FramePool> wholePool_;  // raw streams only
  std::list<WholePacket> whole_;  // before every byte in the ring; no memory until used
  std::size_t wholeBytes_ = 0;
  std::uint64_t writes_ = 0;
  ArrivalTimes arrivals_;  // of the bytes in the ring
  std::uint64_t refusals_ = 0;  // writes refused for want of room
  std::uint64_t refusalsAtTake_ = 0;
  std::chrono::steady_clock::time_point lastWriteAt_{};
  std::uint64_t clears_ = 0;

  // Program and transport streams: the demuxer and the access units it found.
  std::unique_ptr<Demuxer> demuxer_;
  DemuxOutput demuxOutput_{*this};
  std::deque<VideoUnit> demuxed_;
  std::size_t demuxedBytes_ = 0;
  std::size_t poolBytes_ = 0;
  std::uint32_t demuxDamaged_ = 0;
};

}  // namespace vdplay
