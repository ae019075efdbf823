#include "source/source_buffer.h"

#include <cstring>
#include <new>

#include "VdStreamFormat.h"

namespace vdplay {

SourceBuffer::SourceBuffer(const StreamFormat& format) : format_(format), reader_(format) {}

bool SourceBuffer::allocate(std::size_t poolBytes) {
  if (!ring_.allocate(poolBytes)) return false;
  if (format_.codec == vdstream::Codec::None) {
    wholePool_ = FramePool::create();
    if (!wholePool_) return false;
  }
  return true;
}

bool SourceBuffer::write(const std::uint8_t* data, std::size_t length) {
  std::lock_guard<std::mutex> lk(m_);
  if (length > ring_.capacity() - waitingLocked()) return false;
  if (length == 0) return true;
  if (!takeWholePacket(data, length) && !ring_.write(data, length)) return false;
  ++writes_;
  return true;
}

// Only while the ring is empty, so that the order of the bytes stays, and
// only for a packet the ring's parser would take as it is.
bool SourceBuffer::takeWholePacket(const std::uint8_t* data, std::size_t length) {
  if (!wholePool_ || ring_.size() != 0) return false;
  if (length != vdstream::kPacketHeaderSize + format_.pictureBytes) return false;
  if (std::memcmp(data, vdstream::kPacketMagic, 4) != 0) return false;
  const std::uint32_t payload = readLe32(data + 4);
  const std::uint32_t type = readLe32(data + 12);
  if (type != static_cast<std::uint32_t>(vdstream::Payload::Raw) ||
      payload != format_.pictureBytes)
    return false;
  std::shared_ptr<FrameBuffer> storage = wholePool_->acquire(payload);
  if (!storage) return false;  // the ring takes it
  std::uint8_t* pixels = static_cast<PooledFrameBuffer&>(*storage).writable();
  std::memcpy(pixels, data + vdstream::kPacketHeaderSize, payload);
  WholePacket packet;
  packet.unit.bytes.first = pixels;
  packet.unit.bytes.firstLen = payload;
  packet.unit.type = type;
  packet.unit.stampMs = readLe32(data + 8);
  packet.unit.whole = std::move(storage);
  packet.totalSize = length;
  try {
    whole_.push_back(std::move(packet));
  } catch (const std::bad_alloc&) {
    return false;
  }
  wholeBytes_ += length;
  reader_.reset();  // a whole packet ends any run of junk, as the parser would
  return true;
}

void SourceBuffer::queueAudioPacket(const InputUnit& unit) {
  AudioUnit audio;
  switch (static_cast<vdstream::Payload>(unit.type)) {
    case vdstream::Payload::G711MuLaw:
      audio.codec = AudioCodec::G711MuLaw;
      break;
    case vdstream::Payload::AacAdts:
      audio.codec = AudioCodec::Aac;
      break;
    default:
      audio.codec = AudioCodec::G711ALaw;
      break;
  }
  audio.stampMs = unit.stampMs;
  audio.stamped = true;
  try {
    audio.bytes.resize(unit.size);
    ring_.copyOut(unit.offset, audio.bytes.data(), unit.size);
    audio_.push(std::move(audio));
  } catch (const std::bad_alloc&) {
    // The unit is lost; the pictures go on.
  }
  ring_.consume(unit.totalSize);
}

void SourceBuffer::clear() {
  std::lock_guard<std::mutex> lk(m_);
  audio_.clear();
  ring_.clear();
  reader_.reset();
  whole_.clear();
  wholeBytes_ = 0;
  ++clears_;
}

std::uint64_t SourceBuffer::clears() const {
  std::lock_guard<std::mutex> lk(m_);
  return clears_;
}

std::size_t SourceBuffer::bytesWaiting() const {
  std::lock_guard<std::mutex> lk(m_);
  return waitingLocked();
}

std::uint64_t SourceBuffer::writes() const {
  std::lock_guard<std::mutex> lk(m_);
  return writes_;
}

}  // namespace vdplay
