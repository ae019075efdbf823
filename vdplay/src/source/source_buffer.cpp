#include "source/source_buffer.h"

namespace vdplay {

bool SourceBuffer::write(const std::uint8_t* data, std::size_t length) {
  std::lock_guard<std::mutex> lk(m_);
  if (!ring_.write(data, length)) return false;
  if (length) ++writes_;
  return true;
}

void SourceBuffer::clear() {
  std::lock_guard<std::mutex> lk(m_);
  ring_.clear();
  reader_.reset();
  ++clears_;
}

std::uint64_t SourceBuffer::clears() const {
  std::lock_guard<std::mutex> lk(m_);
  return clears_;
}

std::size_t SourceBuffer::bytesWaiting() const {
  std::lock_guard<std::mutex> lk(m_);
  return ring_.size();
}

std::uint64_t SourceBuffer::writes() const {
  std::lock_guard<std::mutex> lk(m_);
  return writes_;
}

}  // namespace vdplay
