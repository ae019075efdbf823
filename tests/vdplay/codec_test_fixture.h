// The fixture of the codec tests: ports opened on clips made at test time,
// every picture the display callback was given kept whole, and pictures
// compared with FFmpeg's own decode.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "support/CodecClips.h"
#include "support/StandInPorts.h"
#include "support/Waiting.h"

namespace codec_test {

using namespace sp_test;
using vdstream::Codec;
using vdstream::Framing;

// How close the pictures must come to FFmpeg's own decode of the clip: the
// same decoder natively (identical pictures, 99), another one on Windows.
#ifndef VDPLAY_TEST_REFERENCE_DB
#define VDPLAY_TEST_REFERENCE_DB 99
#endif
constexpr double kReferenceDb = VDPLAY_TEST_REFERENCE_DB;

// Whether this build and system decode the codec: always natively; on
// Windows H.265 only where the system has a decoder MFT for it (Wine has
// none).
inline bool Decodes(Codec codec) {
  Bytes h = vdstream::makeFileHeader(352, 288, 25, 1, codec);
  const bool opened = VdPlay_OpenStream(5, h.data(), 40, 512000) != 0;
  if (opened) VdPlay_CloseStream(5);
  return opened;
}

#define SKIP_UNLESS_DECODES(codec)                                                     \
  if (!codec_test::Decodes(codec))                                                  \
  GTEST_SKIP() << "this system has no decoder for the codec (" << VdPlay_GetLastError(5) << ")"

// Every picture the callback of a port was given, whole.
struct Shown {
  std::uint32_t stamp;
  int width, height;
  Bytes picture;
  std::chrono::steady_clock::time_point at;  // when the callback had it
};
inline std::mutex g_mutex;
inline std::map<int, std::vector<Shown>> g_shown;

inline void VDPLAY_CALL keepPicture(VdLong port, char* frame, VdLong size, VdLong width,
                                    VdLong height, VdLong stamp, VdLong, VdLong) {
  std::lock_guard<std::mutex> lk(g_mutex);
  g_shown[port].push_back(Shown{static_cast<std::uint32_t>(stamp), width, height,
                                Bytes(frame, frame + size), std::chrono::steady_clock::now()});
}

inline std::vector<Shown> shownOn(int port) {
  std::lock_guard<std::mutex> lk(g_mutex);
  return g_shown[port];
}

class CodecTest : public PortTest {
 protected:
  void TearDown() override {
    PortTest::TearDown();
    std::lock_guard<std::mutex> lk(g_mutex);
    g_shown.clear();
  }

  // Opens the clip's stream on port with the player's pool of open mode 0
  // and starts playing it with the picture-keeping callback. fps is the
  // header's nominal rate, which paces only pictures without usable stamps
  // (a bare stream's).
  void start(int port, const Clip& clip, Framing framing, std::uint32_t fps = 100) {
    Bytes header = clip.Header(framing, fps);
    ASSERT_TRUE(VdPlay_OpenStream(port, header.data(), 40, 512000)) << VdPlay_GetLastError(port);
    ASSERT_TRUE(VdPlay_SetDisplayCallBack(port, keepPicture));
    ASSERT_TRUE(VdPlay_Play(port, nullptr));
  }

  // Feeds data in pieces of up to piece bytes, waiting while the buffer is full.
  void feedAll(int port, const Bytes& data, std::size_t piece = 65536) {
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t n = std::min(piece, data.size() - at);
      if (VdPlay_InputData(port, const_cast<std::uint8_t*>(data.data() + at),
                           static_cast<VdDword>(n))) {
        at += n;
      } else {
        ASSERT_EQ(VdPlay_GetLastError(port), static_cast<VdDword>(VDPLAY_ERR_BUFFER_FULL));
        SleepMs(5);
      }
    }
  }

  bool waitShown(int port, std::size_t count, int ms = 5000) {
    return WaitFor([&] { return shownOn(port).size() >= count; }, std::chrono::milliseconds(ms));
  }
};

// The reference picture a shown picture is (by its presentation time).
inline const Bytes* referenceOf(const Clip& clip, std::uint32_t stamp) {
  for (std::size_t i = 0; i < clip.displayPtsMs.size(); ++i)
    if (clip.displayPtsMs[i] == stamp && i < clip.reference.size()) return &clip.reference[i];
  return nullptr;
}

inline void expectMatchesReference(const Clip& clip, const std::vector<Shown>& shown,
                                   double minDb = kReferenceDb) {
  for (const Shown& s : shown) {
    const Bytes* ref = referenceOf(clip, s.stamp);
    ASSERT_NE(ref, nullptr) << "stamp " << s.stamp;
    ASSERT_EQ(s.picture.size(), ref->size());
    EXPECT_GE(sp_test::Psnr(s.picture.data(), ref->data(), ref->size()), minDb)
        << "stamp " << s.stamp;
  }
}

}  // namespace codec_test
