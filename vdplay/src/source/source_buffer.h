// A port's source: the bytes the host pushed, in the buffer pool the host
// asked for, cut into the units the decoder takes. Host threads append;
// the port's thread takes one unit at a time, and the unit's bytes are let go
// as soon as the decoder has taken them, so nothing waits for the display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "source/byte_ring.h"
#include "source/input_reader.h"
#include "source/stream_header.h"

namespace vdplay {

class SourceBuffer {
 public:
  explicit SourceBuffer(const StreamFormat& format) : reader_(format) {}
  SourceBuffer(const SourceBuffer&) = delete;
  SourceBuffer& operator=(const SourceBuffer&) = delete;

  // Reserves the pool. False when out of memory.
  bool allocate(std::size_t poolBytes) { return ring_.allocate(poolBytes); }

  // Appends all bytes, or none when they do not fit.
  bool write(const std::uint8_t* data, std::size_t length);
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

  struct Taken {
    bool found = false;        // a unit was handed over
    bool accepted = false;     // and its user took it
    std::uint32_t damaged = 0; // damaged packets dropped on the way
  };
  // Hands the next unit to use(view, type, stampMs), which returns whether
  // it took it, then consumes the unit's bytes either way; nothing when the
  // buffer was cleared since clearsSeen. Runs use under the buffer's lock:
  // writers wait meanwhile, for one unit at most.
  template <class Use>
  Taken takeUnit(std::uint64_t clearsSeen, Use&& use) {
    std::lock_guard<std::mutex> lk(m_);
    Taken taken;
    if (clears_ != clearsSeen) return taken;
    InputUnit unit;
    const InputReader::Result found = reader_.next(ring_, unit);
    taken.damaged = found.damaged;
    if (!found.found) return taken;
    taken.found = true;
    taken.accepted = use(ring_.view(unit.offset, unit.size), unit.type, unit.stampMs);
    ring_.consume(unit.totalSize);
    return taken;
  }

 private:
  mutable std::mutex m_;
  ByteRing ring_;
  InputReader reader_;
  std::uint64_t writes_ = 0;
  std::uint64_t clears_ = 0;
};

}  // namespace vdplay
