// 32 host ports fed from their own threads through the stand-in decoder for a
// while (10 s by default; "--seconds=N" on the command line changes it).
//
// The ports are set up and opened on one thread, as the player expects; then
// each port's thread feeds packets whenever the decoder's buffer runs low and
// now and then changes its play state, while one more thread captures
// pictures from port after port. At debug level 2 every operation writes a
// trace record, so the runtime log must end up with exactly one record per
// call made, all whole, from 33 threads at once.
#include <gtest/gtest.h>

#include <SinglePlayer.h>
#include <VdPlay.h>
#include <VdStreamFormat.h>

#include <atomic>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log/LogFile.h"
#include "support/CommandLine.h"
#include "support/GbkTexts.h"
#include "support/LogRecords.h"
#include "support/Sandbox.h"
#include "support/TestStreams.h"

#ifndef SP_PORTS_STRESS_SECONDS
#define SP_PORTS_STRESS_SECONDS 10
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPorts = 32;
constexpr std::uint32_t kWidth = 64;
constexpr std::uint32_t kHeight = 48;
constexpr std::uint32_t kFps = 50;
constexpr std::uint32_t kLowWater = 32 * 1024;  // feed while fewer bytes wait

std::int32_t HostPort(int i) { return 127 - i * 4; }  // spread over 0..127

// Play states a feeding thread moves through; it always comes back to play.
const std::int32_t kStateCycle[] = {PLAYSTATE_FAST2, PLAYSTATE_PLAY, PLAYSTATE_SLOW1,
                                    PLAYSTATE_PAUSE, PLAYSTATE_PLAY, PLAYSTATE_FAST3,
                                    PLAYSTATE_ONE_BY_ONE, PLAYSTATE_ONE_BY_ONE, PLAYSTATE_PLAY};

struct PortResult {
  int inputs = 0;
  int refusedWhileStepping = 0;
  int unexpected = 0;  // results other than those allowed
  std::string firstUnexpected;
};

TEST(PortsFeedStress, ThirtyTwoPortsFedFromTheirOwnThreads) {
  const int seconds = sp_test::NumberArgument("--seconds", SP_PORTS_STRESS_SECONDS);
  sp_test::Sandbox sandbox;
  sandbox.Configure(2);
  // No rotation: the runtime log must hold every trace record of the run.
  sp::testing::SetLogRotationBytes(1L << 30);

  // 16 pictures, raw and zlib packets alternating.
  sp_test::TestStream stream =
      sp_test::MakeTestStream({kWidth, kHeight, 16, vdstream::Payload::Raw, true, kFps});
  std::vector<Bytes>& packets = stream.packets;
  Bytes& header = stream.header;

  ISinglePlayer* player = CreateSinglePlayerDll();
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Play_Init(0), SP_OK);
  // Calls made through the interface; each writes one trace record.
  std::atomic<long> calls{0};
  for (int i = 0; i < kPorts; ++i) {
    ASSERT_EQ(player->Play_SetOpenMode(HostPort(i), i % 2), SP_OK);
    ASSERT_EQ(player->Play_OpenStream(nullptr, HostPort(i), header.data(),
                                      static_cast<std::uint32_t>(header.size()), 0),
              SP_OK);
    calls += 2;
  }

  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  // Feeding goes on until the capturer is done, which may be a little past
  // `end` on a slow run (valgrind) that has not taken its first picture yet.
  std::atomic<bool> feeding{true};
  std::vector<PortResult> results(kPorts);
  std::vector<std::thread> feeders;
  for (int i = 0; i < kPorts; ++i) {
    feeders.emplace_back([&, i] {
      const std::int32_t port = HostPort(i);
      PortResult& result = results[i];
      std::size_t next = static_cast<std::size_t>(i);
      std::size_t cycle = 0;
      Clock::time_point nextChange = Clock::now() + std::chrono::milliseconds(100 + 7 * i);
      std::int32_t state = PLAYSTATE_PLAY;
      while (feeding) {
        if (Clock::now() >= nextChange) {
          nextChange += std::chrono::milliseconds(150);
          state = kStateCycle[cycle++ % std::size(kStateCycle)];
          const std::int32_t changed = player->Play_PlayState(port, state);
          ++calls;
          if (changed != SP_OK && result.unexpected++ == 0) {
            result.firstUnexpected = "Play_PlayState " + std::to_string(changed);
          }
        }
        std::uint32_t waiting = 0;
        EXPECT_EQ(player->Play_GetBufferRemainDataSize(port, &waiting), SP_OK);
        ++calls;
        if (waiting >= kLowWater && state != PLAYSTATE_ONE_BY_ONE) {
          // Paused, or the decoder has enough: wait for it to play some.
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
        }
        Bytes& packet = packets[next++ % packets.size()];
        const std::int32_t r = player->Play_InputData(
            port, packet.data(), static_cast<std::uint32_t>(packet.size()), 0);
        ++calls;
        ++result.inputs;
        if (r == SP_ERR_STEPPING && state == PLAYSTATE_ONE_BY_ONE) {
          // Stepping admits one block per single-frame request.
          ++result.refusedWhileStepping;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else if (r != SP_OK && result.unexpected++ == 0) {
          result.firstUnexpected = "Play_InputData " + std::to_string(r);
        }
      }
      // Back to normal play, so that the final checks see frames flowing.
      EXPECT_EQ(player->Play_PlayState(port, PLAYSTATE_PLAY), SP_OK);
      ++calls;
    });
  }
  int captures = 0;
  int pictures = 0;
  std::thread capturer([&] {
    const Clock::time_point lastChance = end + std::chrono::seconds(20);
    for (int i = 0; Clock::now() < end || (pictures == 0 && Clock::now() < lastChance); ++i) {
      const std::int32_t port = HostPort(i % kPorts);
      const std::string path = sandbox.File("port" + std::to_string(port) + ".bmp");
      const std::int32_t r = player->Play_GetPicture(port, path.c_str());
      ++calls;
      ++captures;
      // A paused or stepping port may show no frame within the wait.
      EXPECT_TRUE(r == SP_OK || r == SP_ERR_DECODER_UNKNOWN) << r;
      if (r == SP_OK) ++pictures;
      std::int32_t width = 0;
      std::int32_t height = 0;
      EXPECT_EQ(player->Play_GetPictureSize(port, &width, &height), SP_OK);
      ++calls;
      EXPECT_EQ(width, static_cast<std::int32_t>(kWidth));
      EXPECT_EQ(height, static_cast<std::int32_t>(kHeight));
    }
    feeding = false;
  });
  for (std::thread& feeder : feeders) feeder.join();
  capturer.join();

  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(results[i].unexpected, 0) << "port " << HostPort(i) << ": "
                                        << results[i].firstUnexpected;
    EXPECT_GT(results[i].inputs, 0) << "port " << HostPort(i);
    // Decoder ports were handed out in set-up order.
    VdPlayStats stats{};
    ASSERT_NE(VdPlayX_GetStats(i, &stats), 0);
    EXPECT_GT(stats.framesDisplayed, 0u) << "port " << HostPort(i);
    EXPECT_EQ(stats.packetsDamaged, 0u) << "port " << HostPort(i);
  }
  EXPECT_GT(pictures, 0) << captures << " captures";
  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(player->Play_CloseStream(HostPort(i)), SP_OK);
    ++calls;
  }
  ReleaseSinglePlayerDll(player);
  sp::testing::SetLogRotationBytes(0);

  const long traces = static_cast<long>(sp_test::ReadWholeRecords(sandbox.RuntimeLog()).size());
  EXPECT_EQ(traces, calls.load());
  int inputs = 0;
  for (const PortResult& r : results) inputs += r.inputs;
  std::printf("[ figures  ] %d ports for %d s: %d data inputs, %d captures (%d pictures), "
              "%ld calls, %ld trace records verified\n",
              kPorts, seconds, inputs, captures, pictures, calls.load(), traces);
  // Failures only of captures that saw no frame, or of frames that came
  // after their capture was done.
  for (const sp_test::ErrorRecord& error : sp_test::ReadErrorRecords(sandbox.ErrorLog())) {
    EXPECT_TRUE(error.message == sp_test::gbk::kCaptureTimeout ||
                error.message == sp_test::gbk::kPathNotSet)
        << error.code << " " << error.message << " " << error.context;
  }
}

}  // namespace
