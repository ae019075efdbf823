// Reusable I420 picture storage for one stream. Pictures of a megabyte or
// more would otherwise be fresh pages from the system for every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "frame.h"

namespace vdplay {

class FramePool : public std::enable_shared_from_this<FramePool> {
 public:
  // A buffer of the given size whose pixels() are ready as written; it goes
  // back to the pool when the last frame holding it lets go. nullptr when
  // out of memory.
  std::shared_ptr<FrameBuffer> acquire(std::size_t bytes);

  // The same as raw storage, for buffers that fill themselves later.
  class Storage;
  std::unique_ptr<Storage> take(std::size_t bytes);
  void giveBack(std::unique_ptr<Storage> storage);

  static std::shared_ptr<FramePool> create();

 private:
  FramePool() = default;
  static constexpr std::size_t kMaxIdle = 3;  // on display, waiting, being filled

  std::mutex m_;
  std::vector<std::unique_ptr<Storage>> idle_;
};

class FramePool::Storage {
 public:
  explicit Storage(std::size_t bytes) : bytes_(bytes), data_(new std::uint8_t[bytes]) {}
  std::uint8_t* data() { return data_.get(); }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_;
  std::unique_ptr<std::uint8_t[]> data_;
};

// A frame buffer whose pixels are written once into pooled storage.
class PooledFrameBuffer final : public FrameBuffer {
 public:
  PooledFrameBuffer(std::shared_ptr<FramePool> pool, std::unique_ptr<FramePool::Storage> storage)
      : pool_(std::move(pool)), storage_(std::move(storage)) {}
  ~PooledFrameBuffer() override { pool_->giveBack(std::move(storage_)); }
  PooledFrameBuffer(const PooledFrameBuffer&) = delete;
  PooledFrameBuffer& operator=(const PooledFrameBuffer&) = delete;

  const std::uint8_t* pixels() override { return storage_->data(); }
  std::uint8_t* writable() { return storage_->data(); }

 private:
  std::shared_ptr<FramePool> pool_;
  std::unique_ptr<FramePool::Storage> storage_;
};

}  // namespace vdplay
