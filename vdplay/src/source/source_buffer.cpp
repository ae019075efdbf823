#include "source/source_buffer.h"

#include <cstring>
#include <new>

#include "VdStreamFormat.h"

namespace vdplay {

SourceBuffer::SourceBuffer(const StreamFormat& format) : format_(format), reader_(format) {}

bool SourceBuffer::allocate(std::size_t poolBytes) {
  poolBytes_ = poolBytes;
  if (vdstream::isMpegFraming(format_.framing)) {
    // The pool holds access units as the demuxer finds them, not the bytes
    // as they came; a unit larger than the pool is dropped as damaged.
    const std::uint32_t frameMs = format_.fpsDen * 1000 / format_.fpsNum;
    try {
      demuxer_ = createDemuxer(format_.framing, format_.codec, poolBytes, frameMs ? frameMs : 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return demuxer_ != nullptr;
  }
  if (!ring_.allocate(poolBytes)) return false;
  if (format_.codec == vdstream::Codec::None) {
    wholePool_ = FramePool::create();
    if (!wholePool_) return false;
  }
  return true;
}

std::size_t SourceBuffer::waitingLocked() const {
  if (demuxer_) return demuxedBytes_ + demuxer_->bytesHeld();
  return ring_.size() + wholeBytes_;
}

bool SourceBuffer::write(const std::uint8_t* data, std::size_t length) {
  std::lock_guard<std::mutex> lk(m_);
  if (demuxer_) {
    // Only whole units count against the pool here: a unit under way cannot
    // be finished without more bytes, and is itself limited to the pool.
    if (length > poolBytes_ - demuxedBytes_) {
      ++refusals_;
      return false;
    }
    if (length == 0) return true;
    lastWriteAt_ = std::chrono::steady_clock::now();
    try {
      demuxer_->push(data, length, demuxOutput_);
    } catch (const std::bad_alloc&) {
      demuxer_->reset();  // what was under way is lost; the stream resumes at the next sync
      ++demuxDamaged_;
    }
    ++writes_;
    return true;
  }
  if (length > ring_.capacity() - waitingLocked()) {
    ++refusals_;
    return false;
  }
  if (length == 0) return true;
  lastWriteAt_ = std::chrono::steady_clock::now();
  if (!takeWholePacket(data, length)) {
    if (!ring_.write(data, length)) return false;
    ringIn_ += length;
    arrivals_.record(ringIn_, lastWriteAt_);
    scanAudioAhead();
  }
  ++writes_;
  return true;
}

void SourceBuffer::scanAudioAhead() {
  if (format_.framing != vdstream::Framing::Packets) return;
  const std::uint64_t front = ringFront();
  if (scanAt_ < front) scanAt_ = front;  // the parser went past (junk, or units taken)
  while (!queuedAhead_.empty() && queuedAhead_.front() < front) queuedAhead_.pop_front();
  for (;;) {
    const auto offset = static_cast<std::size_t>(scanAt_ - front);
    if (ring_.size() - offset < vdstream::kPacketHeaderSize) return;
    std::uint8_t head[vdstream::kPacketHeaderSize];
    ring_.copyOut(offset, head, sizeof head);
    if (std::memcmp(head, vdstream::kPacketMagic, 4) != 0) return;
    const std::uint32_t size = readLe32(head + 4);
    const std::uint32_t type = readLe32(head + 12);
    const bool audio = vdstream::isAudioPayload(type);
    if (type < static_cast<std::uint32_t>(vdstream::Payload::Raw) || type > static_cast<std::uint32_t>(vdstream::Payload::AacAdts) ||
        size > ring_.capacity() - vdstream::kPacketHeaderSize ||
        (audio && (size == 0 || size > vdstream::kMaxAudioPayload)))
      return;
    if (ring_.size() - offset - vdstream::kPacketHeaderSize < size) return;  // not whole yet
    if (audio) {
      try {
        queuedAhead_.push_back(scanAt_);
      } catch (const std::bad_alloc&) {
        return;  // the parser queues it when it gets there
      }
      copyAudio(offset + vdstream::kPacketHeaderSize, size, type, readLe32(head + 8));
    }
    scanAt_ += vdstream::kPacketHeaderSize + size;
  }
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
  packet.cameAt = lastWriteAt_;
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
  copyAudio(unit.offset, static_cast<std::uint32_t>(unit.size), unit.type, unit.stampMs);
  ring_.consume(unit.totalSize);
}

void SourceBuffer::copyAudio(std::size_t offset, std::uint32_t size, std::uint32_t type,
                             std::uint32_t stampMs) {
  AudioUnit audio;
  switch (static_cast<vdstream::Payload>(type)) {
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
  audio.stampMs = stampMs;
  audio.stamped = true;
  try {
    audio.bytes.resize(size);
    ring_.copyOut(offset, audio.bytes.data(), size);
    audio_.push(std::move(audio));
  } catch (const std::bad_alloc&) {
    // The unit is lost; the pictures go on.
  }
}

void SourceBuffer::DemuxOutput::video(VideoUnit&& unit) {
  unit.wholeAt = std::chrono::steady_clock::now();
  source_.demuxedBytes_ += unit.bytes.size();
  source_.demuxed_.push_back(std::move(unit));
}

bool SourceBuffer::holdsOpenUnit(std::chrono::steady_clock::time_point& closeAt,
                                 std::uint32_t& stampMs) const {
  std::lock_guard<std::mutex> lk(m_);
  if (!demuxer_ || !demuxer_->holdsOpenUnit(stampMs)) return false;
  closeAt = lastWriteAt_ + std::chrono::milliseconds(demuxer_->idleCloseMs());
  return true;
}

void SourceBuffer::closeOpenUnit(std::uint64_t clearsSeen) {
  std::lock_guard<std::mutex> lk(m_);
  if (!demuxer_ || clears_ != clearsSeen) return;
  try {
    demuxer_->closeOpenUnit(demuxOutput_);
  } catch (const std::bad_alloc&) {
    ++demuxDamaged_;
  }
  ++writes_;  // wakes a reader as new data would
}

void SourceBuffer::clear() {
  std::lock_guard<std::mutex> lk(m_);
  if (demuxer_) demuxer_->reset();
  demuxed_.clear();
  demuxedBytes_ = 0;
  demuxDamaged_ = 0;
  audio_.clear();
  ring_.clear();
  arrivals_.clear();
  scanAt_ = ringIn_;
  queuedAhead_.clear();
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
