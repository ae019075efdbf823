#include "raw_decoder.h"

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
  picture_.reset(new (std::nothrow) std::uint8_t[pictureBytes_]);
  return picture_ != nullptr;
}

bool RawDecoder::send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) {
  ready_ = false;
  const std::uint8_t* picture = nullptr;
  if (type == static_cast<std::uint32_t>(vdstream::Payload::Raw)) {
    if (in.firstLen + in.secondLen != pictureBytes_) return false;
    if (!in.secondLen) {
      picture = in.first;  // in place, no copy
    } else {
      std::memcpy(picture_.get(), in.first, in.firstLen);
      std::memcpy(picture_.get() + in.firstLen, in.second, in.secondLen);
      picture = picture_.get();
    }
  } else if (type == static_cast<std::uint32_t>(vdstream::Payload::Zlib)) {
    picture = inflatePayload(in);
  }
  if (!picture) return false;
  next_.data = picture;
  next_.bytes = pictureBytes_;
  next_.width = width_;
  next_.height = height_;
  next_.stampMs = stampMs;
  ready_ = true;
  return true;
}

bool RawDecoder::receive(Picture& out, std::uint32_t&) {
  if (!ready_) return false;
  ready_ = false;
  out = next_;
  return true;
}

const std::uint8_t* RawDecoder::inflatePayload(const ByteRing::View& in) {
  // One inflate state for the whole stream: reset per picture, no allocations.
  if (!zReady_) {
    if (!zs_) zs_.reset(new (std::nothrow) z_stream_s());
    if (!zs_) return nullptr;
    std::memset(zs_.get(), 0, sizeof(z_stream_s));
    if (inflateInit(zs_.get()) != Z_OK) return nullptr;
    zReady_ = true;
  } else if (inflateReset(zs_.get()) != Z_OK) {
    return nullptr;
  }
  z_stream_s& z = *zs_;
  z.next_out = picture_.get();
  z.avail_out = static_cast<uInt>(pictureBytes_);
  const std::uint8_t* pieces[2] = {in.first, in.second};
  const std::size_t lengths[2] = {in.firstLen, in.secondLen};
  int rc = Z_OK;
  for (int i = 0; i < 2; ++i) {
    if (!lengths[i]) continue;
    // Input left over after the end of the zlib stream makes the payload damaged.
    if (rc == Z_STREAM_END) return nullptr;
    z.next_in = const_cast<Bytef*>(pieces[i]);
    z.avail_in = static_cast<uInt>(lengths[i]);
    const bool last = i == 1 || !lengths[1];
    rc = inflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    // Z_BUF_ERROR before the last piece only means it needs more input.
    if (!last && rc == Z_BUF_ERROR && z.avail_in == 0) rc = Z_OK;
    if (rc != Z_OK && rc != Z_STREAM_END) return nullptr;
  }
  // Exactly one picture, and the payload ends where the zlib stream ends.
  if (rc != Z_STREAM_END || z.avail_out != 0 || z.avail_in != 0) return nullptr;
  return picture_.get();
}

}  // namespace vdplay
