// The display thread: pacing, speed, pause, stepping, stop and close, the
// display callback, and the cost of many ports.
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <atomic>

#include "support/StandInPorts.h"
#include "support/Waiting.h"

using namespace sp_test;
using vdstream::Payload;

namespace {

class PlaybackTest : public PortTest {};

// Opens port with n small pictures buffered (room for 20 more), the
// recording callback set, and plays it. The packets alternate raw and zlib
// and are stamped 40 ms apart whatever the frame rate.
void startBuffered(int port, std::uint32_t n, std::uint32_t fps = 25, bool play = true) {
  TestStream s = MakeTestStream({16, 16, n, Payload::Raw, true, fps, 40});
  EXPECT_TRUE(OpenTestStream(port, s, n + 24));
  EXPECT_TRUE(n == 0 || Feed(port, s.AllPackets()));
  VdPlay_SetDisplayCallBack(port, RecordFrame);
  EXPECT_TRUE(!play || VdPlay_Play(port, nullptr));
}

int shown(int port) { return FrameLogOf(port).count.load(); }

std::atomic<bool> g_holdCallback{false};
std::atomic<bool> g_inCallback{false};

void VDPLAY_CALL holdingCallback(VdLong, char*, VdLong, VdLong, VdLong, VdLong, VdLong, VdLong) {
  g_inCallback = true;
  while (g_holdCallback) SleepMs(1);
  g_inCallback = false;
}

}  // namespace

TEST_F(PlaybackTest, ResetAndInputDoNotWaitForTheDisplay) {
  TestStream s = MakeTestStream({16, 16, 10, Payload::Raw, true, 25, 40});
  ASSERT_TRUE(OpenTestStream(0, s, 30));
  ASSERT_TRUE(Feed(0, s.AllPackets()));
  g_holdCallback = true;
  VdPlay_SetDisplayCallBack(0, holdingCallback);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  ASSERT_TRUE(WaitFor([] { return g_inCallback.load(); }));
  // The port's thread is inside the callback with a picture on display.
  std::atomic<bool> done{false};
  std::thread host([&] {
    EXPECT_TRUE(VdPlay_ResetSourceBuffer(0));
    EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
    EXPECT_TRUE(Feed(0, s.AllPackets()));
    done = true;
  });
  const bool returned = WaitFor([&] { return done.load(); });
  EXPECT_TRUE(g_inCallback) << "the callback was let go early";
  g_holdCallback = false;
  host.join();
  EXPECT_TRUE(returned) << "reset or input waited for the callback";
  VdPlay_SetDisplayCallBack(0, nullptr);
}

TEST_F(PlaybackTest, RateFollowsTheFrameRateAndSpeed) {
  for (int p = 0; p < 4; ++p) startBuffered(p, 150);
  ASSERT_TRUE(VdPlay_Fast(1));  // 50 frames/s
  ASSERT_TRUE(VdPlay_Slow(2));  // 12.5
  ASSERT_TRUE(VdPlay_Fast(3) && VdPlay_Fast(3) && VdPlay_Fast(3) && VdPlay_Fast(3));
  EXPECT_FALSE(VdPlay_Fast(3));  // at most 4 steps
  ASSERT_TRUE(VdPlay_Slow(3) && VdPlay_Slow(3));  // back towards normal: 100 frames/s
  ASSERT_TRUE(WaitFor([] { return shown(0) >= 1 && shown(2) >= 1; }));
  int before[4];
  for (int p = 0; p < 4; ++p) before[p] = shown(p);
  SleepMs(1000);
  const int lo[4] = {15, 30, 6, 60}, hi[4] = {35, 70, 19, 140};
  for (int p = 0; p < 4; ++p) {
    EXPECT_GE(shown(p) - before[p], lo[p]) << "port " << p;
    EXPECT_LE(shown(p) - before[p], hi[p]) << "port " << p;
  }
  ASSERT_TRUE(VdPlay_Play(3, nullptr));
  EXPECT_EQ(PortStats(3).speedStep, 0);
}

TEST_F(PlaybackTest, PauseHoldsThePictureAndResetDropsTheHeldFrame) {
  startBuffered(0, 100);
  ASSERT_TRUE(WaitFor([] { return shown(0) >= 2; }));
  ASSERT_TRUE(VdPlay_Pause(0, 1));
  SleepMs(60);  // a frame being shown when Pause came may still finish
  const int held = shown(0);
  SleepMs(250);
  EXPECT_EQ(shown(0), held);
  ASSERT_TRUE(VdPlay_Pause(0, 0));
  ASSERT_TRUE(WaitFor([&] { return shown(0) >= held + 3; }));
  ASSERT_TRUE(VdPlay_Pause(0, 1));
  SleepMs(60);
  ASSERT_TRUE(VdPlay_ResetSourceBuffer(0));  // the thread holds the next frame: must not hang
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
  const int dropped = shown(0);
  ASSERT_TRUE(VdPlay_Pause(0, 0));
  SleepMs(150);
  EXPECT_EQ(shown(0), dropped);
}

TEST_F(PlaybackTest, OneByOneShowsExactlyOneFramePerCall) {
  startBuffered(0, 0);
  ASSERT_TRUE(VdPlay_OneByOne(0));  // before any data: shows the first that comes
  const TestStream s = MakeTestStream(16, 16, 10, Payload::Zlib);
  ASSERT_TRUE(Feed(0, s.AllPackets()));
  for (int expected : {1, 3}) {
    ASSERT_TRUE(WaitFor([&] { return shown(0) == expected; }));
    SleepMs(250);
    EXPECT_EQ(shown(0), expected);
    ASSERT_TRUE(VdPlay_OneByOne(0) && VdPlay_OneByOne(0));
  }
  ASSERT_TRUE(WaitFor([] { return shown(0) == 5; }));
  const std::vector<std::uint32_t> sums = s.PictureSums();
  EXPECT_EQ(FrameLogOf(0).SumsCopy(), std::vector<std::uint32_t>(sums.begin(), sums.begin() + 5));
  ASSERT_TRUE(VdPlay_Play(0, nullptr));  // continuous again
  EXPECT_TRUE(WaitFor([] { return shown(0) >= 8; }));
}

TEST_F(PlaybackTest, DryBufferRestartsTheScheduleInsteadOfCatchingUp) {
  startBuffered(0, 0);
  SleepMs(400);  // ten frame intervals without data
  ASSERT_TRUE(Feed(0, MakeTestStream(16, 16, 20, Payload::Raw).AllPackets()));
  ASSERT_TRUE(WaitFor([] { return shown(0) >= 1; }));
  SleepMs(100);
  EXPECT_LE(shown(0), 5);  // about 3-4 at 25 frames/s, not a burst of the ten missed
}

TEST_F(PlaybackTest, StopEndsTheThreadAndKeepsTheStream) {
  startBuffered(0, 100);
  ASSERT_TRUE(WaitFor([] { return shown(0) >= 2; }));
  ASSERT_TRUE(VdPlay_Stop(0));
  EXPECT_EQ(PortStats(0).playing * 10 + PortStats(0).streamOpen, 1u);
  const int stopped = shown(0);
  SleepMs(150);
  EXPECT_EQ(shown(0), stopped);
  ASSERT_TRUE(VdPlay_Play(0, reinterpret_cast<VdWindow>(0x1234)));  // not a window: no painting
  ASSERT_TRUE(WaitFor([&] { return shown(0) >= stopped + 2; }));
  // Frames continue where they stopped: none lost, none repeated.
  const auto sums = FrameLogOf(0).SumsCopy();
  EXPECT_EQ(sums, MakeTestStream(16, 16, static_cast<std::uint32_t>(sums.size()), Payload::Raw)
                      .PictureSums());
  ASSERT_TRUE(VdPlay_CloseStream(0));
  EXPECT_EQ(PortStats(0).playing * 10 + PortStats(0).streamOpen, 0u);
}

// ------------------------------------------------------------------ callbacks

namespace {

std::atomic<bool> g_inside{false}, g_done{false};

void VDPLAY_CALL slowCallback(VdLong, char*, VdLong, VdLong, VdLong, VdLong, VdLong, VdLong) {
  g_inside = true;
  SleepMs(150);
  g_done = true;
}

// Besides calling the library for its port, the reentrant callback does its
// action: Play on every frame, the others on frame number g_actionAt.
enum class Action { Stop, Close, Reset, Play };
std::atomic<Action> g_action{Action::Stop};
std::atomic<int> g_actionAt{1}, g_calls{0}, g_bmps{0};

void VDPLAY_CALL reentrantCallback(VdLong port, char* frame, VdLong size, VdLong width,
                                   VdLong height, VdLong stamp, VdLong type, VdLong reserved) {
  RecordFrame(port, frame, size, width, height, stamp, type, reserved);  // asks for the size
  const std::string path = "vdplay_test_cb" + std::to_string(port) + ".bmp";
  g_bmps += VdPLay_ConvertToBmpFile(frame, size, width, height, type,
                                    const_cast<char*>(path.c_str()));
  std::remove(path.c_str());
  if (g_action == Action::Play) {
    SleepMs(2);  // late in the callback, when a Stop from outside is likely to be pending
    VdPlay_Play(port, nullptr);
  }
  if (++g_calls != g_actionAt) return;
  if (g_action == Action::Stop) VdPlay_Stop(port);
  if (g_action == Action::Close) VdPlay_CloseStream(port);
  if (g_action == Action::Reset) VdPlay_ResetSourceBuffer(port);
  if (g_action == Action::Reset) VdPlay_SetDisplayCallBack(port, nullptr);
}

void reentrant(Action a, int at) {
  g_action = a;
  g_actionAt = at;
  g_calls = 0;
}

}  // namespace

TEST_F(PlaybackTest, UnsettingTheCallbackWaitsForARunningCall) {
  startBuffered(0, 20);
  VdPlay_SetDisplayCallBack(0, slowCallback);
  ASSERT_TRUE(WaitFor([] { return g_inside.load(); }));
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(0, nullptr));
  EXPECT_TRUE(g_done);
  g_inside = false;
  SleepMs(150);
  EXPECT_FALSE(g_inside);
}

TEST_F(PlaybackTest, CallbackMayStopResetUnsetAndCloseItsOwnPort) {
  startBuffered(0, 30, 200, false);
  reentrant(Action::Stop, 2);
  VdPlay_SetDisplayCallBack(0, reentrantCallback);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  ASSERT_TRUE(WaitFor([] { return PortStats(0).playing == 0; }));
  EXPECT_EQ(g_calls * 10 + g_bmps, 22);
  EXPECT_EQ(PortStats(0).streamOpen, 1u);

  reentrant(Action::Reset, 1);  // and unset itself
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  ASSERT_TRUE(WaitFor([] { return g_calls >= 1; }));
  SleepMs(100);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(PortStats(0).framesDisplayed, 3u);  // what followed in the buffer was dropped
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);

  reentrant(Action::Close, 1);
  VdPlay_SetDisplayCallBack(0, reentrantCallback);
  ASSERT_TRUE(Feed(0, MakeTestStream(16, 16, 5, Payload::Raw).AllPackets()));
  ASSERT_TRUE(WaitFor([] { return PortStats(0).streamOpen == 0 && PortStats(0).playing == 0; }));
  EXPECT_EQ(g_calls, 1);
  const int before = shown(0);
  startBuffered(0, 3, 200);  // the port is usable again
  EXPECT_TRUE(WaitFor([&] { return shown(0) == before + 3; }));
  EXPECT_EQ(FrameLogOf(0).badCalls, 0);
}

namespace {

// What a callback installed while a picture is on display receives.
struct HandOver {
  std::mutex mutex;
  std::thread::id thread;
  std::uint32_t sum = 0;
  std::int32_t stamp = -1;
  std::atomic<int> calls{0};
};
HandOver g_handOver;

void VDPLAY_CALL handOverCallback(VdLong, char* frame, VdLong size, VdLong, VdLong, VdLong stamp,
                                  VdLong, VdLong) {
  std::lock_guard<std::mutex> lk(g_handOver.mutex);
  g_handOver.thread = std::this_thread::get_id();
  g_handOver.sum = Checksum(frame, static_cast<std::size_t>(size));
  g_handOver.stamp = stamp;
  ++g_handOver.calls;
}

// Installs handOverCallback while holding a lock that the callback would
// need if it were called inside the installation, and checks that it is
// handed the last picture the recording callback saw, from another thread.
void expectHandOverOfLastShown(int port, const char* state) {
  const auto seen = static_cast<int>(PortStats(port).framesDisplayed);
  ASSERT_GT(seen, 0) << state;
  const std::uint32_t lastSum = FrameLogOf(port).SumsCopy().back();
  g_handOver.calls = 0;
  {
    std::lock_guard<std::mutex> lk(g_handOver.mutex);
    ASSERT_TRUE(VdPlay_SetDisplayCallBack(port, handOverCallback)) << state;
  }
  ASSERT_TRUE(WaitFor([] { return g_handOver.calls >= 1; }, std::chrono::milliseconds(500)))
      << state;
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(port, RecordFrame));
  std::lock_guard<std::mutex> lk(g_handOver.mutex);
  EXPECT_NE(g_handOver.thread, std::this_thread::get_id()) << state;
  // Unless a newer picture came meanwhile:
  if (static_cast<int>(PortStats(port).framesDisplayed) == seen) {
    EXPECT_EQ(g_handOver.sum, lastSum) << state;
    EXPECT_EQ(g_handOver.stamp, 40 * (seen - 1)) << state;
  }
}

}  // namespace

TEST_F(PlaybackTest, NewCallbackGetsThePictureOnDisplayInEveryState) {
  startBuffered(0, 0, 5);  // 5 frames/s: a picture stays on display for 200 ms
  const TestStream s = MakeTestStream({16, 16, 60, Payload::Zlib, false, 5, 40});
  ASSERT_TRUE(Feed(0, s.AllPackets()));
  ASSERT_TRUE(WaitFor([] { return shown(0) >= 1; }));
  expectHandOverOfLastShown(0, "playing");
  ASSERT_TRUE(VdPlay_Slow(0));
  expectHandOverOfLastShown(0, "slow");
  ASSERT_TRUE(VdPlay_Fast(0) && VdPlay_Fast(0));
  expectHandOverOfLastShown(0, "fast");
  ASSERT_TRUE(VdPlay_Pause(0, 1));
  SleepMs(60);
  expectHandOverOfLastShown(0, "paused");
  const std::uint32_t stepped = PortStats(0).framesDisplayed + 1;
  ASSERT_TRUE(VdPlay_OneByOne(0));
  ASSERT_TRUE(WaitFor([&] { return PortStats(0).framesDisplayed == stepped; }));
  expectHandOverOfLastShown(0, "stepping");
  EXPECT_EQ(PortStats(0).framesDisplayed, stepped);
  EXPECT_EQ(FrameLogOf(0).badCalls, 0);

  // Closing drops the picture: the next stream's new callback waits for a picture of its own.
  ASSERT_TRUE(VdPlay_CloseStream(0));
  startBuffered(0, 0, 5);
  g_handOver.calls = 0;
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(0, handOverCallback));
  SleepMs(150);
  EXPECT_EQ(g_handOver.calls, 0);
}

TEST_F(PlaybackTest, StopFromOutsideWinsOverPlayFromTheCallback) {
  startBuffered(0, 100, 200, false);
  reentrant(Action::Play, -1);
  VdPlay_SetDisplayCallBack(0, reentrantCallback);
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(VdPlay_Play(0, nullptr));
    const int calls = g_calls;
    ASSERT_TRUE(WaitFor([&] { return g_calls >= calls + 2; }));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] { stopped = VdPlay_Stop(0); });
    const bool ok = WaitFor([&] { return stopped.load(); });
    if (!ok) stopper.detach();  // hangs: report it rather than wait for ever
    ASSERT_TRUE(ok) << "Stop did not return in round " << round;
    stopper.join();
  }
}

// ------------------------------------------------------------------ cost and exit

TEST_F(PlaybackTest, ThirtyTwoCifPortsCostLittleCpu) {
  // A live source: every port gets one CIF picture per 40 ms. Measured over
  // one second after the pools' memory has been touched once.
  Bytes picture(vdstream::pictureBytes(352, 288));
  vdstream::fillTestPicture(picture.data(), 352, 288, 0);
  const Bytes packet = vdstream::makePacket(picture.data(), picture.size(), 0, Payload::Raw);
  TestStream s = MakeTestStream(352, 288, 0, Payload::Raw);
  for (int p = 0; p < VDPLAY_MAX_PORTS; ++p) {
    ASSERT_TRUE(OpenTestStream(p, s, 6));
    VdPlay_SetDisplayCallBack(p, CountFrame);
    ASSERT_TRUE(VdPlay_Play(p, nullptr));
  }
  const auto total = [] {
    int n = 0;
    for (int p = 0; p < VDPLAY_MAX_PORTS; ++p) n += shown(p);
    return n;
  };
  const auto start = std::chrono::steady_clock::now();
  std::clock_t cpu0 = 0;
  int shown0 = 0, refused = 0;
  for (int tick = 0; tick <= 40; ++tick) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * tick));
    if (tick == 15) {
      cpu0 = std::clock();
      shown0 = total();
    }
    for (int p = 0; p < VDPLAY_MAX_PORTS && tick < 40; ++p) refused += !Feed(p, packet);
  }
  const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  const int frames = total() - shown0;
  std::printf("32 CIF ports, 1 s of video: %.3f s CPU, %d frames shown\n", cpu, frames);
  EXPECT_EQ(refused, 0);
  EXPECT_GE(frames, 32 * 20);
  EXPECT_LE(frames, 32 * 30);
#if !defined(_WIN32) && !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(cpu, 0.1);  // on Windows clock() tells wall time; sanitizers cost their own
#endif
}

TEST_F(PlaybackTest, ProcessExitsWhilePortsPlay) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        for (int p = 0; p < 4; ++p) startBuffered(p, 50, 100);
        WaitFor([] { return shown(3) >= 2; });
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
