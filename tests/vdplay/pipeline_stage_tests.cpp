// The stages between the source buffer and the display, without a thread:
// the source buffer lets go of a unit once taken, frames are pooled and
// shared, and the callback output keeps the frame on display.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "VdStreamFormat.h"
#include "decode/raw_decoder.h"
#include "frame_pool.h"
#include "render/callback_output.h"
#include "source/source_buffer.h"
#include "source/stream_header.h"

using namespace vdplay;
using Bytes = std::vector<std::uint8_t>;

namespace {

StreamFormat smallFormat() {
  const Bytes header = vdstream::makeFileHeader(8, 6, 25, 1);
  StreamFormat f;
  EXPECT_EQ(parseFileHeader(header.data(), header.size(), f), 0u);
  return f;
}

Bytes rawPacket(std::uint32_t index) {
  Bytes picture(vdstream::pictureBytes(8, 6));
  vdstream::fillTestPicture(picture.data(), 8, 6, index);
  return vdstream::makePacket(picture.data(), picture.size(), index * 40, vdstream::Payload::Raw);
}

Frame frameOf(FramePool& pool, std::uint8_t fill) {
  Frame f;
  f.buffer = pool.acquire(vdstream::pictureBytes(8, 6));
  f.width = 8;
  f.height = 6;
  if (f.buffer) std::memset(static_cast<PooledFrameBuffer&>(*f.buffer).writable(), fill, f.bytes());
  return f;
}

}  // namespace

TEST(SourceBuffer, ATakenUnitIsLetGoAtOnceTakenOrNotAndNothingCrossesAClear) {
  SourceBuffer source(smallFormat());
  ASSERT_TRUE(source.allocate(4096));
  const Bytes a = rawPacket(0), b = rawPacket(1);
  ASSERT_TRUE(source.write(a.data(), a.size()));
  ASSERT_TRUE(source.write(b.data(), 0));
  EXPECT_EQ(source.writes(), 1u) << "an empty write wakes nobody";
  ASSERT_TRUE(source.write(b.data(), b.size()));
  EXPECT_EQ(source.bytesWaiting(), a.size() + b.size());

  SourceBuffer::Taken taken = source.takeUnit(0, [&](const SourceUnit& unit) {
    EXPECT_EQ(unit.type, static_cast<std::uint32_t>(vdstream::Payload::Raw));
    return false;  // refused: its bytes go all the same
  });
  EXPECT_TRUE(taken.found);
  EXPECT_FALSE(taken.accepted);
  EXPECT_EQ(source.bytesWaiting(), b.size());

  // A taker that has not seen the clear gets nothing of what came after it.
  const std::uint64_t before = source.clears();
  source.clear();
  ASSERT_TRUE(source.write(a.data(), a.size()));
  taken = source.takeUnit(before, [](const SourceUnit&) {
    ADD_FAILURE() << "a unit from after the clear reached a decoder not yet flushed";
    return true;
  });
  EXPECT_FALSE(taken.found);
  taken = source.takeUnit(source.clears(), [&](const SourceUnit& unit) {
    return unit.bytes.firstLen + unit.bytes.secondLen == vdstream::pictureBytes(8, 6);
  });
  EXPECT_TRUE(taken.found && taken.accepted);
  EXPECT_EQ(source.bytesWaiting(), 0u);
}

TEST(SourceBuffer, WholeRawPacketsSkipTheRingAndEveryUnitKeepsItsOrder) {
  const StreamFormat format = smallFormat();
  SourceBuffer source(format);
  ASSERT_TRUE(source.allocate(4 * rawPacket(0).size()));
  const Bytes p0 = rawPacket(0), p1 = rawPacket(1), p2 = rawPacket(2), p3 = rawPacket(3);
  ASSERT_TRUE(source.write(p0.data(), p0.size()));      // whole, while the ring is empty
  ASSERT_TRUE(source.write(p1.data(), 10));             // a piece: into the ring
  ASSERT_TRUE(source.write(p1.data() + 10, p1.size() - 10));
  ASSERT_TRUE(source.write(p2.data(), p2.size()));      // whole, but behind ring bytes
  ASSERT_TRUE(source.write(p3.data(), p3.size()));
  const Bytes p4 = rawPacket(4);
  EXPECT_FALSE(source.write(p4.data(), p4.size())) << "the pool counts whole packets too";

  RawDecoder decoder;
  ASSERT_TRUE(decoder.init(format));
  std::vector<std::uint32_t> stamps;
  std::vector<bool> stored;
  std::vector<Frame> frames;
  for (;;) {
    const SourceBuffer::Taken taken = source.takeUnit(0, [&](const SourceUnit& unit) {
      stored.push_back(unit.whole != nullptr);
      return unit.whole ? decoder.sendStored(unit.whole, unit.bytes, unit.type, unit.stampMs)
                        : decoder.send(unit.bytes, unit.type, unit.stampMs);
    });
    if (!taken.found) break;
    Frame frame;
    std::uint32_t damaged = 0;
    ASSERT_TRUE(decoder.receive(frame, damaged));
    stamps.push_back(frame.stampMs);
    frames.push_back(frame);
  }
  EXPECT_EQ(stamps, (std::vector<std::uint32_t>{0, 40, 80, 120}));
  EXPECT_EQ(stored, (std::vector<bool>{true, false, false, false}));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Bytes packet = rawPacket(static_cast<std::uint32_t>(i));
    EXPECT_EQ(std::memcmp(frames[i].pixels(), packet.data() + vdstream::kPacketHeaderSize,
                          frames[i].bytes()),
              0)
        << "picture " << i;
  }
  EXPECT_EQ(source.bytesWaiting(), 0u);
  // Emptied, the next whole packet skips the ring again.
  ASSERT_TRUE(source.write(p4.data(), p4.size()));
  source.takeUnit(0, [&](const SourceUnit& unit) { return unit.whole != nullptr; });
  EXPECT_EQ(source.bytesWaiting(), 0u);
}

TEST(FramePool, StorageIsReusedPerSizeAndFramesOutliveTheirPoolsOwner) {
  std::shared_ptr<FramePool> pool = FramePool::create();
  ASSERT_TRUE(pool);
  const std::uint8_t* first;
  {
    const Frame f = frameOf(*pool, 1);
    first = f.pixels();
  }
  Frame again = frameOf(*pool, 2);
  EXPECT_EQ(again.pixels(), first) << "storage of a released frame is used again";
  const Frame shared = again;  // shared, not copied
  EXPECT_EQ(shared.pixels(), again.pixels());

  std::unique_ptr<FramePool::Storage> other = pool->take(10);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->bytes(), 10u);
  pool->giveBack(std::move(other));

  const Frame survivor = frameOf(*pool, 7);
  pool.reset();  // the stream's decoder is gone; its frames are not
  EXPECT_EQ(survivor.pixels()[survivor.bytes() - 1], 7);
}

namespace {

std::atomic<int> g_calls{0};
std::atomic<int> g_lastFirstByte{-1};
std::atomic<bool> g_block{false};
std::atomic<bool> g_inside{false};

void VDPLAY_CALL recordCall(VdLong, char* frame, VdLong, VdLong, VdLong, VdLong, VdLong, VdLong) {
  g_inside = true;
  while (g_block) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  g_lastFirstByte = static_cast<std::uint8_t>(frame[0]);
  ++g_calls;
  g_inside = false;
}

}  // namespace

TEST(CallbackOutput, KeepsTheFrameOnDisplayForANewCallbackUnlessDroppedMeanwhile) {
  g_calls = 0;
  std::shared_ptr<FramePool> pool = FramePool::create();
  CallbackOutput out(3);
  out.show(frameOf(*pool, 11), out.generation());  // no callback yet: kept only
  EXPECT_FALSE(out.handOverDue());
  out.set(recordCall, false);
  ASSERT_TRUE(out.handOverDue());
  out.handOver();
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_lastFirstByte, 11);
  EXPECT_FALSE(out.handOverDue()) << "handed over once";

  // A reset between taking the generation and the end of the show: the
  // frame is shown but not kept, so a later callback gets nothing old.
  const std::uint64_t generation = out.generation();
  out.dropKept();
  out.show(frameOf(*pool, 12), generation);
  EXPECT_EQ(g_calls, 2);
  out.set(recordCall, false);
  EXPECT_FALSE(out.handOverDue());
}

TEST(CallbackOutput, ReplacingTheCallbackWaitsForACallInProgress) {
  g_calls = 0;
  std::shared_ptr<FramePool> pool = FramePool::create();
  CallbackOutput out(4);
  out.set(recordCall, false);
  g_block = true;
  std::thread shower([&] { out.show(frameOf(*pool, 5), out.generation()); });
  while (!g_inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<bool> replaced{false};
  std::thread replacer([&] {
    out.set(nullptr, false);
    replaced = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(replaced) << "returned while the old callback still ran";
  g_block = false;
  shower.join();
  replacer.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(g_calls, 1);
}

// Whole audio packets reach the audio queue when they come, ahead of the
// pictures before them, each once; a clear forgets them; split packets wait
// until they are whole.
TEST(SourceBuffer, AudioPacketsAreQueuedAsTheyComeAndOnlyOnce) {
  SourceBuffer source(smallFormat());
  ASSERT_TRUE(source.allocate(8192));
  const std::uint8_t tone[160] = {0x55};
  Bytes stream = rawPacket(0);
  vdstream::appendPacket(stream, tone, sizeof tone, 0, vdstream::Payload::G711ALaw);
  const Bytes second = rawPacket(1);
  stream.insert(stream.end(), second.begin(), second.end());
  vdstream::appendPacket(stream, tone, sizeof tone, 20, vdstream::Payload::G711MuLaw);
  // All but the last 10 bytes: the second audio packet is not whole yet.
  ASSERT_TRUE(source.write(stream.data(), stream.size() - 10));
  EXPECT_EQ(source.audio().size(), 1u) << "the first audio packet is queued before any picture is taken";
  ASSERT_TRUE(source.write(stream.data() + stream.size() - 10, 10));
  EXPECT_EQ(source.audio().size(), 2u);
  int pictures = 0;
  for (int i = 0; i < 3; ++i)
    source.takeUnit(0, [&](const SourceUnit&) {
      ++pictures;
      return true;
    });
  EXPECT_EQ(pictures, 2);
  EXPECT_EQ(source.audio().size(), 2u) << "the parser does not queue them again";
  EXPECT_EQ(source.bytesWaiting(), 0u);
  AudioUnit unit;
  ASSERT_TRUE(source.audio().pop(unit));
  EXPECT_EQ(unit.codec, AudioCodec::G711ALaw);
  EXPECT_EQ(unit.stampMs, 0u);
  ASSERT_TRUE(source.audio().pop(unit));
  EXPECT_EQ(unit.codec, AudioCodec::G711MuLaw);
  EXPECT_EQ(unit.stampMs, 20u);

  ASSERT_TRUE(source.write(stream.data(), stream.size()));
  source.clear();
  EXPECT_EQ(source.audio().size(), 0u);
  ASSERT_TRUE(source.write(stream.data(), stream.size()));
  EXPECT_EQ(source.audio().size(), 2u) << "after a clear the scan starts at the new front";
}

// The clock needs to know when each unit came whole (its last byte, not its
// first) and whether the host was kept waiting by a full pool.
TEST(SourceBuffer, EachUnitKnowsWhenItCameWholeAndWhetherThePoolWasFull) {
  using Clock = std::chrono::steady_clock;
  SourceBuffer source(smallFormat());
  const Bytes a = rawPacket(0), b = rawPacket(1);
  ASSERT_TRUE(source.allocate(a.size() + b.size()));
  ASSERT_TRUE(source.write(a.data(), 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Clock::time_point beforeRest = Clock::now();
  ASSERT_TRUE(source.write(a.data() + 10, a.size() - 10));
  const Clock::time_point afterRest = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Clock::time_point beforeB = Clock::now();
  ASSERT_TRUE(source.write(b.data(), b.size()));
  EXPECT_FALSE(source.write(a.data(), a.size())) << "the pool is full";

  const auto take = [&] { return source.takeUnit(source.clears(), [](const SourceUnit&) { return true; }); };
  SourceBuffer::Taken taken = take();
  EXPECT_GE(taken.cameAt, beforeRest);
  EXPECT_LE(taken.cameAt, afterRest);
  EXPECT_TRUE(taken.poolWasFull);
  taken = take();
  EXPECT_GE(taken.cameAt, beforeB);
  EXPECT_FALSE(taken.poolWasFull) << "no write was refused since the unit before";
}
