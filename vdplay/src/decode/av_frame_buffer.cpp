#include "decode/av_frame_buffer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace vdplay {
namespace {

bool isPlain420(int format) {
  return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

void copyPlane(std::uint8_t* dst, int dstWidth, const std::uint8_t* src, int srcStride,
               int rows) {
  for (int r = 0; r < rows; ++r)
    std::memcpy(dst + static_cast<std::size_t>(r) * dstWidth,
                src + static_cast<std::ptrdiff_t>(r) * srcStride, static_cast<std::size_t>(dstWidth));
}

}  // namespace

AvFrameConverter::~AvFrameConverter() { sws_freeContext(sws_); }

bool AvFrameConverter::init() {
  pool_ = FramePool::create();
  return pool_ != nullptr;
}

std::unique_ptr<FramePool::Storage> AvFrameConverter::convert(const AVFrame& f, int w, int h) {
  const std::size_t ySize = static_cast<std::size_t>(w) * h;
  std::unique_ptr<FramePool::Storage> out = pool_->take(ySize * 3 / 2);
  if (!out) return nullptr;
  std::uint8_t* planes[3] = {out->data(), out->data() + ySize, out->data() + ySize + ySize / 4};
  if (isPlain420(f.format)) {
    copyPlane(planes[0], w, f.data[0], f.linesize[0], h);
    copyPlane(planes[1], w / 2, f.data[1], f.linesize[1], h / 2);
    copyPlane(planes[2], w / 2, f.data[2], f.linesize[2], h / 2);
    return out;
  }
  std::lock_guard<std::mutex> lk(scalerMutex_);
  sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(f.format), w, h,
                              AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const int strides[3] = {w, w / 2, w / 2};
  if (sws_ && sws_scale(sws_, f.data, f.linesize, 0, h, planes, strides) == h) return out;
  pool_->giveBack(std::move(out));
  return nullptr;
}

AvFrameBuffer::~AvFrameBuffer() {
  av_frame_free(&frame_);
  converter_->giveBack(std::move(i420_));
}

const std::uint8_t* AvFrameBuffer::pixels() {
  std::lock_guard<std::mutex> lk(m_);
  if (!i420_) {
    i420_ = converter_->convert(*frame_, width_, height_);
    if (i420_) av_frame_unref(frame_);  // the decoder may reuse its picture now
  }
  return i420_ ? i420_->data() : nullptr;
}

}  // namespace vdplay
