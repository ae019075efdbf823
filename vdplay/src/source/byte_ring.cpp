#include "source/byte_ring.h"

#include <cstring>
#include <new>

namespace vdplay {

bool ByteRing::allocate(std::size_t capacity) {
  buf_.reset(new (std::nothrow) std::uint8_t[capacity]);
  cap_ = buf_ ? capacity : 0;
  head_ = size_ = 0;
  return buf_ != nullptr;
}

bool ByteRing::write(const std::uint8_t* data, std::size_t n) {
  if (n > freeSpace()) return false;
  if (n == 0) return true;
  const std::size_t tail = index(size_);
  const std::size_t first = n < cap_ - tail ? n : cap_ - tail;
  std::memcpy(&buf_[tail], data, first);
  std::memcpy(&buf_[0], data + first, n - first);
  size_ += n;
  return true;
}

ByteRing::View ByteRing::view(std::size_t offset, std::size_t n) const {
  View v;
  if (n == 0) return v;
  const std::size_t start = index(offset);
  v.first = &buf_[start];
  v.firstLen = n < cap_ - start ? n : cap_ - start;
  if (v.firstLen < n) {
    v.second = &buf_[0];
    v.secondLen = n - v.firstLen;
  }
  return v;
}

void ByteRing::copyOut(std::size_t offset, std::uint8_t* dst, std::size_t n) const {
  const View v = view(offset, n);
  if (v.firstLen) std::memcpy(dst, v.first, v.firstLen);
  if (v.secondLen) std::memcpy(dst + v.firstLen, v.second, v.secondLen);
}

std::size_t ByteRing::find(std::size_t from, const char (&a)[4], const char (&b)[4]) const {
  if (a[0] != b[0]) return npos;  // both magics start alike ("VD"); keep the scan simple
  for (std::size_t off = from; off + 4 <= size_;) {
    // Jump to the next candidate first byte within the contiguous piece.
    const View v = view(off, size_ - off);
    const void* hit = std::memchr(v.first, a[0], v.firstLen);
    std::size_t cand;
    if (hit) {
      cand = off + static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - v.first);
    } else if (v.secondLen) {
      hit = std::memchr(v.second, a[0], v.secondLen);
      if (!hit) return npos;
      cand = off + v.firstLen +
             static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - v.second);
    } else {
      return npos;
    }
    if (cand + 4 > size_) return npos;
    std::uint8_t m[4];
    copyOut(cand, m, 4);
    if (std::memcmp(m, a, 4) == 0 || std::memcmp(m, b, 4) == 0) return cand;
    off = cand + 1;
  }
  return npos;
}

void ByteRing::consume(std::size_t n) {
  if (n >= size_) {
    head_ = size_ = 0;  // restart at the front: keeps later payloads contiguous more often
    return;
  }
  head_ = index(n);
  size_ -= n;
}

}  // namespace vdplay
