// A decoded picture as it travels from the decoder to the window, the
// display callback and the picture kept on display: decoded once, shared by
// reference, never copied from stage to stage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vdplay {

// Where a frame's pixels live. A decoder may make the I420 form only when
// something asks for it (a window, a callback, a snapshot), so a port that
// only counts pictures never converts one.
class FrameBuffer {
 public:
  virtual ~FrameBuffer() = default;
  // The picture as I420 (Y, then U, then V, no row padding), or nullptr when
  // it cannot be made. Safe to call from several threads; made at most once.
  virtual const std::uint8_t* pixels() = 0;
};

struct Frame {
  std::shared_ptr<FrameBuffer> buffer;
  int width = 0;  // even
  int height = 0;
  std::uint32_t stampMs = 0;

  explicit operator bool() const { return buffer != nullptr; }
  std::size_t bytes() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 / 2;
  }
  const std::uint8_t* pixels() const { return buffer ? buffer->pixels() : nullptr; }
};

}  // namespace vdplay
