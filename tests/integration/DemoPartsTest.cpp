// The demo host's configuration guard (the machine's configuration file is
// put back as it was), its stall watch, and the AAC configuration its video
// file readers turn into ADTS headers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "../../examples/spdemo/config_guard.h"
#include "../../examples/spdemo/playback_watch.h"
#include "../../examples/spdemo/video_file.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(DemoConfigGuard, PutsAnExistingFileBackByteForByte) {
  sp_test::TempDir dir;
  const std::string config = dir.File("Q38.cfg");
  const std::string before = "[GLOBAL]\r\n[TRACE_PATH][d:/keep/]\n[DEBUG_LEVEL][2]\r\n\x01";
  sp_test::WriteFile(config, before);
  {
    spdemo::ConfigGuard guard;
    std::string error;
    ASSERT_TRUE(guard.write(config, "C:\\trace", error)) << error;
    EXPECT_EQ(sp_test::ReadFile(config),
              "[GLOBAL]\r\n[TRACE_PATH][C:/trace/]\r\n[DEBUG_LEVEL][1]\r\n");
  }  // an early return of the demo ends here too
  EXPECT_EQ(sp_test::ReadFile(config), before);
}

TEST(DemoConfigGuard, RemovesTheFileAndTheFoldersItMade) {
  sp_test::TempDir dir;
  sp_test::WriteFile(dir.File("other"), "x");
  const std::string config = dir.File("q38/cfg/Q38.cfg");
  spdemo::ConfigGuard guard;
  std::string error;
  ASSERT_TRUE(guard.write(config, "/tmp/t/", error)) << error;
  EXPECT_TRUE(sp_test::Exists(config));
  EXPECT_TRUE(guard.restore());
  EXPECT_FALSE(sp_test::Exists(dir.File("q38")));
  EXPECT_TRUE(sp_test::Exists(dir.File("other")));
  EXPECT_TRUE(guard.restore()) << "a second restore does nothing";

  // A folder that someone filled meanwhile stays.
  ASSERT_TRUE(guard.write(config, "/tmp/t/", error)) << error;
  sp_test::WriteFile(dir.File("q38/cfg/mine"), "y");
  EXPECT_TRUE(guard.restore());
  EXPECT_FALSE(sp_test::Exists(config));
  EXPECT_TRUE(sp_test::Exists(dir.File("q38/cfg/mine")));
}

TEST(DemoConfigGuard, AFailedWriteLeavesNothingBehind) {
  sp_test::TempDir dir;
  sp_test::WriteFile(dir.File("file"), "not a folder");
  spdemo::ConfigGuard guard;
  std::string error;
  EXPECT_FALSE(guard.write(dir.File("file/cfg/Q38.cfg"), "/t", error));
  EXPECT_NE(error, "");
  EXPECT_FALSE(guard.active());
  EXPECT_EQ(sp_test::ReadFile(dir.File("file")), "not a folder");
}

TEST(DemoPlaybackWatch, StallsOnlyWhenFramesAreDueAndDataWaits) {
  spdemo::PlaybackWatch watch;
  const Clock::time_point t0{};
  watch.expect(true, milliseconds(3000), t0);
  watch.observe(t0, 0, 5000);
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(2900), 5000, false));
  EXPECT_TRUE(watch.stalled(t0 + milliseconds(3100), 5000, false));
  EXPECT_TRUE(watch.stalled(t0 + milliseconds(3100), 0, true)) << "packets not yet sent wait too";
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(3100), 0, false)) << "nothing waits: the end";

  watch.observe(t0 + milliseconds(2000), 1, 5000);  // a frame came
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(4900), 5000, false));
  EXPECT_TRUE(watch.stalled(t0 + milliseconds(5100), 5000, false));

  watch.expect(false, milliseconds(3000), t0 + milliseconds(6000));  // paused
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(60000), 5000, true));
  watch.expect(true, milliseconds(3000), t0 + milliseconds(60000));  // playing again
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(62000), 5000, true));
}

TEST(DemoPlaybackWatch, WithoutAFrameCountMovingBytesCount) {
  spdemo::PlaybackWatch watch;
  const Clock::time_point t0{};
  watch.expect(true, milliseconds(1000), t0);
  watch.observe(t0, std::nullopt, 900);
  watch.observe(t0 + milliseconds(800), std::nullopt, 600);
  EXPECT_FALSE(watch.stalled(t0 + milliseconds(1500), 600, false));
  watch.observe(t0 + milliseconds(1500), std::nullopt, 600);
  EXPECT_TRUE(watch.stalled(t0 + milliseconds(1900), 600, false));
}

TEST(DemoAacConfig, ReadsTheAudioSpecificConfigsAnAdtsHeaderCanCarry) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    bool readable;
    std::uint32_t objectType, rateIndex, channels;
  };
  const Case cases[] = {
      {{0x11, 0x88}, true, 2, 3, 1},                    // LC, 48 kHz, mono
      {{0x2B, 0x11, 0x88, 0x00}, true, 2, 6, 2},        // HE-AAC: its LC core at 24 kHz
      {{0x17, 0x80, 0x56, 0x22, 0x10}, true, 2, 4, 2},  // 44.1 kHz written out
      {{0x17, 0x80, 0x18, 0x1C, 0x90}, false, 0, 0, 0}, // 12345 Hz: no ADTS index
      {{0x11, 0x80}, false, 0, 0, 0},                   // channels given in the stream
      {{0x11}, false, 0, 0, 0},                         // cut short
  };
  for (const Case& c : cases) {
    spdemo::AacConfig config;
    EXPECT_EQ(spdemo::readAudioSpecificConfig(c.bytes.data(), c.bytes.size(), config), c.readable)
        << static_cast<int>(c.bytes[0]);
    if (!c.readable) continue;
    EXPECT_EQ(config.objectType, c.objectType);
    EXPECT_EQ(config.rateIndex, c.rateIndex);
    EXPECT_EQ(config.channels, c.channels);
  }

  // LC, 48 kHz, stereo, 100 bytes of raw frame: 107 bytes with the header.
  std::uint8_t header[7];
  ASSERT_TRUE(spdemo::makeAdtsHeader({2, 3, 2}, 100, header));
  const std::vector<std::uint8_t> expected = {0xFF, 0xF1, 0x4C, 0x80, 0x0D, 0x7F, 0xFC};
  EXPECT_EQ(std::vector<std::uint8_t>(header, header + 7), expected);
  EXPECT_TRUE(spdemo::makeAdtsHeader({2, 3, 2}, 8184, header));
  EXPECT_FALSE(spdemo::makeAdtsHeader({2, 3, 2}, 8185, header)) << "longer than 13 bits can say";
}

}  // namespace
