// Shared pieces of the integration tests: the player (from sp_core, so the
// system folder can point into a private temporary folder) driving the real
// VdPlay library, test streams, the decoder's counters, and BMP reading.
#pragma once

#include <gtest/gtest.h>

#include <SinglePlayer.h>
#include <VdPlay.h>
#include <VdStreamFormat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"
#include "support/TestIsolation.h"

namespace integration {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A stream of the moving test pattern: header, pictures and one packet each.
struct Stream {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes header;
  std::vector<Bytes> pictures;
  std::vector<Bytes> packets;

  Bytes packetBytes() const {
    Bytes all;
    for (const Bytes& p : packets) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
};

inline Stream MakeStream(std::uint32_t width, std::uint32_t height, std::uint32_t frames,
                         std::uint32_t fps, vdstream::Payload type) {
  Stream s;
  s.width = width;
  s.height = height;
  s.header = vdstream::makeFileHeader(width, height, fps, 1);
  for (std::uint32_t i = 0; i < frames; ++i) {
    Bytes picture(vdstream::pictureBytes(width, height));
    vdstream::fillTestPicture(picture.data(), width, height, i);
    s.packets.push_back(
        vdstream::makePacket(picture.data(), picture.size(), i * 1000 / fps, type));
    s.pictures.push_back(std::move(picture));
  }
  return s;
}

inline std::uint32_t Checksum(const void* data, std::size_t size) {
  // FNV-1a: enough to tell the test pictures apart.
  std::uint32_t hash = 2166136261u;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

// The checksums of the frames the decoder showed, through a display callback
// set directly on the decoder's ports (the player sets none unless a picture
// is captured).
class ShownFrames {
 public:
  static ShownFrames& Get() {
    static ShownFrames frames;
    return frames;
  }
  void Install() {
    Clear();
    for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) VdPlay_SetDisplayCallBack(port, &Record);
  }
  void Uninstall() {
    for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) VdPlay_SetDisplayCallBack(port, nullptr);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    sums_.clear();
  }
  std::vector<std::uint32_t> Sums() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sums_;
  }

 private:
  static void VDPLAY_CALL Record(VdLong, char* frame, VdLong size, VdLong, VdLong, VdLong,
                                 VdLong, VdLong) {
    ShownFrames& self = Get();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.sums_.push_back(Checksum(frame, static_cast<std::size_t>(size)));
  }
  std::mutex mutex_;
  std::vector<std::uint32_t> sums_;
};

// The counters of the one decoder port with an open stream (the test opens
// one stream at a time); all zero when none is open.
inline VdPlayStats OpenStreamStats() {
  for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) {
    VdPlayStats stats{};
    if (VdPlayX_GetStats(port, &stats) && stats.streamOpen) return stats;
  }
  return VdPlayStats{};
}

template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A 24-bit BMP as the decoder writes it, read back top row first.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
  const std::uint8_t* At(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

// Fails the test (and returns false) when the file is no 24-bit bottom-up BMP.
inline bool ReadBitmap(const std::string& path, Bitmap& out) {
  const std::string bytes = sp_test::ReadFile(path);
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
  };
  EXPECT_GE(bytes.size(), 54u) << path;
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
  const std::uint32_t offset = u32(10);
  const auto width = static_cast<std::int32_t>(u32(18));
  const auto height = static_cast<std::int32_t>(u32(22));
  const int bits = static_cast<std::uint8_t>(bytes[28]) | static_cast<std::uint8_t>(bytes[29]) << 8;
  EXPECT_EQ(bits, 24);
  EXPECT_GT(height, 0) << "bottom-up rows";
  const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  EXPECT_EQ(u32(2), bytes.size());
  if (bits != 24 || width <= 0 || height <= 0 ||
      bytes.size() < offset + rowBytes * static_cast<std::size_t>(height)) {
    return false;
  }
  out.width = width;
  out.height = height;
  out.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
  for (int y = 0; y < height; ++y) {
    const char* row = bytes.data() + offset + rowBytes * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      px[0] = static_cast<std::uint8_t>(row[x * 3 + 2]);
      px[1] = static_cast<std::uint8_t>(row[x * 3 + 1]);
      px[2] = static_cast<std::uint8_t>(row[x * 3]);
    }
  }
  return true;
}

inline std::uint8_t Clamp(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// BT.601 limited range, written out here independently of the decoder.
inline void ExpectedRgb(const Bytes& i420, int width, int height, int x, int y, std::uint8_t out[3]) {
  const double Y = i420[static_cast<std::size_t>(y) * width + x] - 16.0;
  const std::size_t c = static_cast<std::size_t>(y / 2) * (width / 2) + x / 2;
  const double U = i420[static_cast<std::size_t>(width) * height + c] - 128.0;
  const double V = i420[static_cast<std::size_t>(width) * height * 5 / 4 + c] - 128.0;
  out[0] = Clamp(1.164 * Y + 1.596 * V);
  out[1] = Clamp(1.164 * Y - 0.392 * U - 0.813 * V);
  out[2] = Clamp(1.164 * Y + 2.017 * U);
}

// Largest channel difference between the bitmap and the picture.
inline int Distance(const Bitmap& bmp, const Bytes& picture) {
  int worst = 0;
  for (int y = 0; y < bmp.height; ++y) {
    for (int x = 0; x < bmp.width; ++x) {
      std::uint8_t want[3];
      ExpectedRgb(picture, bmp.width, bmp.height, x, y, want);
      for (int ch = 0; ch < 3; ++ch) worst = std::max(worst, std::abs(bmp.At(x, y)[ch] - want[ch]));
    }
  }
  return worst;
}

// The player over the real decoder, with its configuration file and logs in
// a private temporary folder. Tests open streams on host port 0.
class PlayerOverDecoder : public ::testing::Test {
 protected:
  static constexpr std::int32_t kPort = 0;

  void SetUp() override {
#if defined(_WIN32)
    // The drive root is the first three characters of the system folder: a
    // relative root inside the test's folder keeps C:/ of the Wine prefix
    // free for other test programs running at the same time.
    savedWorkingDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    configRoot_ = dir_.File("sp/");
    sp::platform::testing::OverrideSystemDirectory(std::string("sp\\system32"));
#else
    configRoot_ = dir_.File("root/");
    sp::platform::testing::OverrideSystemDirectory(configRoot_);
#endif
    logDir_ = dir_.File("logs/");
    player = CreateSinglePlayerDll();
    ASSERT_NE(player, nullptr);
  }

  void TearDown() override {
    if (player) player->Play_CloseStream(kPort);
    ShownFrames::Get().Uninstall();
    ReleaseSinglePlayerDll(player);
    sp_test::UseIsolatedSystemDirectory();
#if defined(_WIN32)
    std::filesystem::current_path(savedWorkingDir_);
#endif
  }

  // Writes the configuration file (logs into the test's folder) and
  // initialises the player with it.
  void Init(int debugLevel) {
    std::filesystem::create_directories(configRoot_ + "q38/cfg");
    sp_test::WriteFile(configRoot_ + "q38/cfg/Q38.cfg",
                       "[GLOBAL]\n[TRACE_PATH][" + logDir_ + "]\n[DEBUG_LEVEL][" +
                           std::to_string(debugLevel) + "]\n");
    ASSERT_EQ(player->Play_Init(0), SP_OK);
  }

  void Open(const Stream& s, SP_HWND window = nullptr) {
    ASSERT_EQ(player->Play_SetOpenMode(kPort, 0), SP_OK);
    Bytes header = s.header;
    ASSERT_EQ(player->Play_OpenStream(window, kPort, header.data(),
                                      static_cast<std::uint32_t>(header.size()), 0),
              SP_OK);
  }

  std::int32_t Input(const Bytes& data) {
    Bytes copy = data;
    return player->Play_InputData(kPort, copy.data(), static_cast<std::uint32_t>(copy.size()), 0);
  }

  std::uint32_t Shown() const { return OpenStreamStats().framesDisplayed; }

  std::string TempFile(const std::string& name) const { return dir_.File(name); }

  std::vector<sp_test::ErrorRecord> ErrorRecords() const {
    bool ok = true;
    std::vector<sp_test::ErrorRecord> errors;
    for (const auto& record : sp_test::ReadLogRecords(logDir_ + "Vd_Player_Error.log", ok)) {
      bool recordOk = true;
      errors.push_back(sp_test::ToErrorRecord(record, recordOk));
      EXPECT_TRUE(recordOk);
    }
    EXPECT_TRUE(ok) << "error log layout";
    return errors;
  }

  ISinglePlayer* player = nullptr;

 private:
  sp_test::TempDir dir_;
  std::string configRoot_;
  std::string logDir_;
#if defined(_WIN32)
  std::filesystem::path savedWorkingDir_;
#endif
};

}  // namespace integration
