// Program and transport streams with real H.264 and H.265 through the
// stand-in's API, pushed the way a host gets them from a camera or a
// recorder: every piece size, a start in the middle, lost packets, time
// stamps that wrap, a codec change, and 4K at its real rate.
#include <algorithm>
#include <random>
#include <thread>

#include "codec_test_fixture.h"

using namespace codec_test;

namespace {

constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;

class MpegStreamTest : public CodecTest {
 protected:
  // Opens the port with a header of framing 2 or 3 that leaves the codec to
  // the stream (or forces one).
  void open(int port, const Clip& clip, Framing framing, Codec codec = Codec::None,
            VdDword pool = 512000) {
    const Bytes header = vdstream::makeFileHeader(clip.recipe.width, clip.recipe.height,
                                                  clip.recipe.fps, 1, codec, framing);
    ASSERT_TRUE(VdPlay_OpenStream(port, const_cast<std::uint8_t*>(header.data()), 40, pool))
        << VdPlay_GetLastError(port);
    ASSERT_TRUE(VdPlay_SetDisplayCallBack(port, keepPicture));
    ASSERT_TRUE(VdPlay_Play(port, nullptr));
  }

  // Waits until no picture has come for a second (at most 12 s).
  void waitUntilQuiet(int port) {
    std::size_t seen = 0;
    for (int i = 0; i < 24; ++i) {
      SleepMs(500);
      const std::size_t now = shownOn(port).size();
      if (now == seen && now > 0 && i % 2 == 1) return;
      if (i % 2 == 1) seen = now;
    }
  }

  // Feeds data in pieces of random sizes up to maxPiece.
  void feedRandomPieces(int port, const Bytes& data, std::size_t maxPiece, unsigned seed) {
    std::mt19937 random(seed);
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t n = std::min<std::size_t>(1 + random() % maxPiece, data.size() - at);
      feedAll(port, Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                          data.begin() + static_cast<std::ptrdiff_t>(at + n)));
      at += n;
    }
  }
};

std::vector<std::uint32_t> stampsOf(const std::vector<Shown>& shown, std::uint32_t minus = 0) {
  std::vector<std::uint32_t> stamps;
  for (const Shown& s : shown) stamps.push_back(s.stamp - minus);
  return stamps;
}

// Pictures shown from stamp-relative times compared with the reference.
void expectMatchesReferenceFrom(const Clip& clip, std::vector<Shown> shown, std::uint32_t firstMs,
                                double minDb) {
  for (Shown& s : shown) s.stamp -= firstMs;
  expectMatchesReference(clip, shown, minDb);
}

bool builtWithSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

// Milliseconds from the first picture shown to the last.
double displaySpanMs(const std::vector<Shown>& shown) {
  return std::chrono::duration<double, std::milli>(shown.back().at - shown.front().at).count();
}

// Stamps of the pictures shown on a port, without their pixels (4K pictures
// are 12 MB each).
std::mutex g_stampMutex;
std::vector<std::uint32_t> g_stamps;
void VDPLAY_CALL keepStamp(VdLong, char*, VdLong, VdLong width, VdLong, VdLong stamp, VdLong,
                           VdLong) {
  std::lock_guard<std::mutex> lk(g_stampMutex);
  g_stamps.push_back(static_cast<std::uint32_t>(stamp));
  if (width != 3840) g_stamps.push_back(0);  // a wrong size shows as an extra picture
}
std::size_t stampsKept() {
  std::lock_guard<std::mutex> lk(g_stampMutex);
  return g_stamps.size();
}


}  // namespace

// H.265 here; H.264 is among the codec tests, which run on every build.
TEST_F(MpegStreamTest, EncoderTransportStreamsPlayEveryPictureAtItsTime) {
  for (Codec codec : {Codec::H265}) {
    ClipRecipe recipe;
    recipe.codec = codec;
    recipe.frames = 40;
    const Clip& clip = sp_test::MakeClip(recipe);
    ASSERT_FALSE(clip.transportStream.empty());
    const int port = codec == Codec::H264 ? 0 : 1;
    open(port, clip, Framing::TransportStream);
    feedRandomPieces(port, clip.transportStream, 3000, 11);
    ASSERT_TRUE(waitShown(port, clip.units.size(), 8000)) << shownOn(port).size();
    const std::vector<Shown> shown = shownOn(port);
    EXPECT_EQ(stampsOf(shown, clip.firstPtsMs), clip.displayPtsMs);
    expectMatchesReferenceFrom(clip, shown, clip.firstPtsMs, 99);
    EXPECT_EQ(PortStats(port).packetsDamaged, 0u);
    // At the stamps' pace (40 ms apart), not at the header's nominal rate;
    // the last pictures wait for reordering until the data is seen to end.
    const std::vector<Shown> early(shown.begin(), shown.end() - 4);
    if (!builtWithSanitizer()) {
      EXPECT_NEAR(displaySpanMs(early), 40.0 * (early.size() - 1), 300);
    }
  }
}

TEST_F(MpegStreamTest, CameraProgramStreamWithMapAndAudioInOneBytePieces) {
  ClipRecipe recipe;
  recipe.codec = Codec::H265;
  recipe.frames = 30;
  recipe.bFrames = 0;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  std::vector<MpegUnit> units;
  for (MpegUnit& video : clip.MpegUnits(900000)) {
    MpegUnit audio;
    audio.video = false;
    audio.pts = video.pts;
    audio.data.assign(320, 0xD5);  // 40 ms of G.711 A-law silence
    units.push_back(std::move(video));
    units.push_back(std::move(audio));
  }
  sp_test::MpegStreamOptions options;
  options.videoType = 0x24;
  const Bytes ps = sp_test::WriteProgramStream(units, options);
  open(2, clip, Framing::ProgramStream);
  for (std::size_t at = 0; at < ps.size(); ++at) feedAll(2, Bytes{ps[at]});
  ASSERT_TRUE(waitShown(2, clip.units.size(), 8000)) << shownOn(2).size();
  EXPECT_EQ(stampsOf(shownOn(2), 10000), clip.displayPtsMs);
  expectMatchesReferenceFrom(clip, shownOn(2), 10000, 99);
  EXPECT_EQ(PortStats(2).packetsDamaged, 0u);
}

TEST_F(MpegStreamTest, JoiningMidStreamIsSilentAndLostPacketsNeverShowGarbage) {
  ClipRecipe recipe;
  recipe.frames = 100;
  recipe.gop = 20;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.transportStream.empty());
  // Joined in the middle of a TS packet, in the middle of a group of pictures.
  const Bytes& ts = clip.transportStream;
  const std::size_t cut = (ts.size() / 188 / 3) * 188 + 77;
  open(0, clip, Framing::TransportStream);
  feedRandomPieces(0, Bytes(ts.begin() + static_cast<std::ptrdiff_t>(cut), ts.end()), 1500, 3);
  ASSERT_TRUE(WaitFor([] { return shownOn(0).size() >= 40; }, std::chrono::seconds(8)));
  EXPECT_EQ(PortStats(0).packetsDamaged, 0u) << "joining a live stream is no damage";
  expectMatchesReferenceFrom(clip, shownOn(0), clip.firstPtsMs, 99);

  // One TS packet in a hundred lost: what is shown is still right.
  Bytes lossy;
  std::mt19937 random(5);
  for (std::size_t at = 0; at + 188 <= ts.size(); at += 188)
    if (random() % 100 != 0)
      lossy.insert(lossy.end(), ts.begin() + static_cast<std::ptrdiff_t>(at),
                   ts.begin() + static_cast<std::ptrdiff_t>(at + 188));
  open(1, clip, Framing::TransportStream);
  feedRandomPieces(1, lossy, 4000, 4);
  waitUntilQuiet(1);
  EXPECT_GT(PortStats(1).packetsDamaged, 0u);
  ASSERT_GE(shownOn(1).size(), 10u);
  expectMatchesReferenceFrom(clip, shownOn(1), clip.firstPtsMs, 40);
}

TEST_F(MpegStreamTest, TimeStampWrapAndCodecChangeKeepTheRhythm) {
  ClipRecipe recipe;
  recipe.frames = 25;
  recipe.bFrames = 0;
  recipe.gop = 25;
  const Clip& h264 = sp_test::MakeClip(recipe);
  recipe.codec = Codec::H265;
  const Clip& h265 = sp_test::MakeClip(recipe);
  ASSERT_FALSE(h264.units.empty());
  ASSERT_FALSE(h265.units.empty());
  // H.264 up to the 33-bit wrap, then H.265 after a new program map.
  const std::uint64_t first = kPtsWrap - 20 * 3600;
  sp_test::TsCounters counters;
  Bytes ts = sp_test::WriteTransportStream(h264.MpegUnits(first), {}, counters);
  sp_test::MpegStreamOptions second;
  second.videoType = 0x24;
  second.mapVersion = 1;
  const Bytes rest =
      sp_test::WriteTransportStream(h265.MpegUnits(first + 25 * 3600), second, counters);
  ts.insert(ts.end(), rest.begin(), rest.end());
  open(3, h264, Framing::TransportStream);
  feedRandomPieces(3, ts, 2000, 9);
  ASSERT_TRUE(waitShown(3, 50, 8000)) << shownOn(3).size();
  const std::vector<Shown> shown = shownOn(3);
  for (std::size_t i = 1; i < shown.size(); ++i)
    EXPECT_EQ(shown[i].stamp - shown[i - 1].stamp, 40u) << "picture " << i;
  if (!builtWithSanitizer()) {  // instrumented decoding is slower than the stream
    EXPECT_NEAR(displaySpanMs(shown), 40.0 * 49, 500) << "no stall and no burst";
  }
  const std::vector<Shown> firstPart(shown.begin(), shown.begin() + 25);
  const std::vector<Shown> secondPart(shown.begin() + 25, shown.end());
  expectMatchesReferenceFrom(h264, firstPart, shown[0].stamp, 99);
  expectMatchesReferenceFrom(h265, secondPart, shown[25].stamp, 99);
  EXPECT_EQ(PortStats(3).packetsDamaged, 0u);
}

TEST_F(MpegStreamTest, Uhd265TransportStreamAtItsRealRateShowsEveryPicture) {
  if (builtWithSanitizer()) GTEST_SKIP() << "4K in real time needs an uninstrumented build";
  ClipRecipe recipe;
  recipe.codec = Codec::H265;
  recipe.width = 3840;
  recipe.height = 2160;
  recipe.frames = 50;
  recipe.bFrames = 0;
  recipe.gop = 50;
  recipe.decodeReference = false;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  // Ten seconds: the two-second clip five times over, stamps running on.
  std::vector<MpegUnit> units;
  for (int loop = 0; loop < 5; ++loop)
    for (MpegUnit& u : clip.MpegUnits(90000 + static_cast<std::uint64_t>(loop) * 50 * 3600))
      units.push_back(std::move(u));
  sp_test::MpegStreamOptions options;
  options.videoType = 0x24;
  open(4, clip, Framing::TransportStream, Codec::None, 1024000);
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(4, keepStamp));
  sp_test::TsCounters counters;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * i));
    feedAll(4, sp_test::WriteTransportStream({units[i]}, options, counters), 1316);
  }
  EXPECT_TRUE(WaitFor([&] { return stampsKept() >= units.size(); }, std::chrono::seconds(5)));
  SleepMs(200);
  EXPECT_EQ(stampsKept(), units.size());
  const VdPlayStats stats = PortStats(4);
  EXPECT_EQ(stats.packetsDamaged, 0u);
  EXPECT_EQ(stats.framesDisplayed, units.size());
}
