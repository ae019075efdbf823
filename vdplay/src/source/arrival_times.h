// When the bytes up to each position of a byte stream came: a unit cut
// later from the stream came whole when its last byte did.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

namespace vdplay {

class ArrivalTimes {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // The bytes up to end (as the stream counts them from its start) came at.
  void record(std::uint64_t end, TimePoint at);
  // When the byte just before position end came; the latest time known
  // when that write is no longer kept.
  TimePoint timeOf(std::uint64_t end) const;
  // The bytes before position front are gone.
  void forget(std::uint64_t front);
  void clear() { writes_.clear(); }

  // Writes kept at most (a host that pushes single bytes makes many); the
  // oldest go first, which only makes a unit look as if it came later.
  static constexpr std::size_t kMaxWrites = 4096;

 private:
  struct Write {
    std::uint64_t end;
    TimePoint at;
  };
  std::deque<Write> writes_;
};

}  // namespace vdplay
