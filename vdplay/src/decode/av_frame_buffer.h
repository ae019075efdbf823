// A frame decoded by libavcodec, shared as it came out of the decoder; its
// I420 form is made the first time something asks for the pixels, into
// pooled storage, and the decoder's own picture is released then.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "frame.h"
#include "frame_pool.h"

struct AVFrame;
struct SwsContext;

namespace vdplay {

// Makes I420 out of decoded pictures: the stream's storage pool and, for
// pictures that are not plain 8-bit 4:2:0, the scaler context.
class AvFrameConverter {
 public:
  AvFrameConverter() = default;
  ~AvFrameConverter();
  AvFrameConverter(const AvFrameConverter&) = delete;
  AvFrameConverter& operator=(const AvFrameConverter&) = delete;

  bool init();
  // width x height (even) of frame as I420 into pooled storage; nullptr on failure.
  std::unique_ptr<FramePool::Storage> convert(const AVFrame& frame, int width, int height);
  void giveBack(std::unique_ptr<FramePool::Storage> storage) {
    pool_->giveBack(std::move(storage));
  }

 private:
  std::shared_ptr<FramePool> pool_;
  std::mutex scalerMutex_;
  SwsContext* sws_ = nullptr;
};

class AvFrameBuffer final : public FrameBuffer {
 public:
  // Takes over frame (freed with this buffer).
  AvFrameBuffer(AVFrame* frame, int width, int height,
                std::shared_ptr<AvFrameConverter> converter)
      : frame_(frame), width_(width), height_(height), converter_(std::move(converter)) {}
  ~AvFrameBuffer() override;
  AvFrameBuffer(const AvFrameBuffer&) = delete;
  AvFrameBuffer& operator=(const AvFrameBuffer&) = delete;

  const std::uint8_t* pixels() override;

 private:
  std::mutex m_;
  AVFrame* frame_;
  int width_;
  int height_;
  std::shared_ptr<AvFrameConverter> converter_;
  std::unique_ptr<FramePool::Storage> i420_;
};

}  // namespace vdplay
