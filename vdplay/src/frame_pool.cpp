#include "frame_pool.h"

#include <new>

namespace vdplay {

std::shared_ptr<FramePool> FramePool::create() {
  try {
    std::shared_ptr<FramePool> pool(new FramePool);
    // giveBack() runs in destructors: it must never need memory.
    pool->idle_.reserve(kMaxIdle);
    return pool;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<FramePool::Storage> FramePool::take(std::size_t bytes) {
  {
    std::lock_guard<std::mutex> lk(m_);
    while (!idle_.empty()) {
      std::unique_ptr<Storage> storage = std::move(idle_.back());
      idle_.pop_back();
      if (storage->bytes() == bytes) return storage;
      // Another picture size: the stream changed size, the old ones go.
    }
  }
  try {
    return std::unique_ptr<Storage>(new Storage(bytes));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void FramePool::giveBack(std::unique_ptr<Storage> storage) {
  if (!storage) return;
  std::lock_guard<std::mutex> lk(m_);
  if (idle_.size() < kMaxIdle) idle_.push_back(std::move(storage));
}

std::shared_ptr<FrameBuffer> FramePool::acquire(std::size_t bytes) {
  std::unique_ptr<Storage> storage = take(bytes);
  if (!storage) return nullptr;
  try {
    return std::make_shared<PooledFrameBuffer>(shared_from_this(), std::move(storage));
  } catch (const std::bad_alloc&) {
    return nullptr;  // storage freed with the unique_ptr
  }
}

}  // namespace vdplay
