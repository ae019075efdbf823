#include "decode/raw_decoder.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "VdStreamFormat.h"

namespace vdplay {

RawDecoder::RawDecoder() = default;

RawDecoder::~RawDecoder() {
  if (zReady_) inflateEnd(zs_.get());
}

bool RawDecoder::init(const StreamFormat& format) {
  width_ = static_cast<int>(format.width);
  height_ = static_cast<int>(format.height);
  pictureBytes_ = format.pictureBytes;
  pool_ = FramePool::create();
  return pool_ != nullptr;
}

bool RawDecoder::send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) {
  next_ = Frame();
  const bool raw = type == static_cast<std::uint32_t>(vdstream::Payload::Raw);
  const bool zlib = type == static_cast<std::uint32_t>(vdstream::Payload::Zlib);
  if (!raw && !zlib) return false;
  if (raw && in.firstLen + in.secondLen != pictureBytes_) return false;
  std::shared_ptr<FrameBuffer> buffer = pool_->acquire(pictureBytes_);
  if (!buffer) return false;
  std::uint8_t* out = static_cast<PooledFrameBuffer&>(*buffer).writable();
  if (raw) {
    std::memcpy(out, in.first, in.firstLen);
    if (in.secondLen) std::memcpy(out + in.firstLen, in.second, in.secondLen);
  } else if (!inflatePayload(in, out)) {
    return false;
  }
  next_.buffer = std::move(buffer);
  next_.width = width_;
  next_.height = height_;
  next_.stampMs = stampMs;
  return true;
}

bool RawDecoder::sendStored(const std::shared_ptr<FrameBuffer>& stored, const ByteRing::View& in,
                            std::uint32_t type, std::uint32_t stampMs) {
  const bool wholePicture = type == static_cast<std::uint32_t>(vdstream::Payload::Raw) &&
                            in.firstLen == pictureBytes_ && in.secondLen == 0;
  if (!wholePicture) return send(in, type, stampMs);
  next_.buffer = stored;  // shown as it is: no copy
  next_.width = width_;
  next_.height = height_;
  next_.stampMs = stampMs;
  return true;
}

bool RawDecoder::receive(Frame& out, std::uint32_t&) {
  if (!next_) return false;
  out = std::move(next_);
  next_ = Frame();
  return true;
}

bool RawDecoder::inflatePayload(const ByteRing::View& in, std::uint8_t* out) {
  // One inflate state for the whole stream: reset per picture, no allocations.
  if (!zReady_) {
    if (!zs_) zs_.reset(new (std::nothrow) z_stream_s());
    if (!zs_) return false;
    std::memset(zs_.get(), 0, sizeof(z_stream_s));
    if (inflateInit(zs_.get()) != Z_OK) return false;
    zReady_ = true;
  } else if (inflateReset(zs_.get()) != Z_OK) {
    return false;
  }
  z_stream_s& z = *zs_;
  z.next_out = out;
  z.avail_out = static_cast<uInt>(pictureBytes_);
  const std::uint8_t* pieces[2] = {in.first, in.second};
  const std::size_t lengths[2] = {in.firstLen, in.secondLen};
  int rc = Z_OK;
  for (int i = 0; i < 2; ++i) {
    if (!lengths[i]) continue;
    // Input left over after the end of the zlib stream makes the payload damaged.
    if (rc == Z_STREAM_END) return false;
    z.next_in = const_cast<Bytef*>(pieces[i]);
    z.avail_in = static_cast<uInt>(lengths[i]);
    const bool last = i == 1 || !lengths[1];
    rc = inflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    // Z_BUF_ERROR before the last piece only means it needs more input.
    if (!last && rc == Z_BUF_ERROR && z.avail_in == 0) rc = Z_OK;
    if (rc != Z_OK && rc != Z_STREAM_END) return false;
  }
  // Exactly one picture, and the payload ends where the zlib stream ends.
  return rc == Z_STREAM_END && z.avail_out == 0 && z.avail_in == 0;
}

}  // namespace vdplay
