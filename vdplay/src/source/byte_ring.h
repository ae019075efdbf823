// Fixed-size ring of bytes: the port's source buffer.
//
// One producer appends into the free space and one consumer reads the front;
// the caller provides the locking. The consumer may read the bytes it looked
// at without the lock, as long as nobody consumes or clears them meanwhile:
// appending never touches stored bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vdplay {

class ByteRing {
 public:
  // Up to two pieces of stored bytes, in order.
  struct View {
    const std::uint8_t* first = nullptr;
    std::size_t firstLen = 0;
    const std::uint8_t* second = nullptr;
    std::size_t secondLen = 0;
  };

  // Reserves the storage (contents uninitialised). False when out of memory.
  bool allocate(std::size_t capacity);

  std::size_t capacity() const { return cap_; }
  std::size_t size() const { return size_; }
  std::size_t freeSpace() const { return cap_ - size_; }

  // Appends all n bytes, or nothing when they do not fit.
  bool write(const std::uint8_t* data, std::size_t n);

  // Stored bytes [offset, offset+n); offset + n must not exceed size().
  void copyOut(std::size_t offset, std::uint8_t* dst, std::size_t n) const;
  View view(std::size_t offset, std::size_t n) const;

  // Offset of the first of the magics at or after from, or npos. Only whole
  // 4-byte matches count.
  std::size_t find(std::size_t from, const char (&magicA)[4], const char (&magicB)[4]) const;

  void consume(std::size_t n);
  void clear() { head_ = size_ = 0; }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  std::size_t index(std::size_t offset) const {
    const std::size_t i = head_ + offset;
    return i >= cap_ ? i - cap_ : i;
  }

  std::unique_ptr<std::uint8_t[]> buf_;
  std::size_t cap_ = 0;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vdplay
