// H.264 and H.265 through the stand-in's API, with clips made at test time:
// display order, both input forms, start mid-GOP, damaged units, size
// changes, B-picture skipping, reset, and pictures as FFmpeg decodes them.
#include <cstdio>
#include <cstring>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "codec_test_fixture.h"

using namespace codec_test;
using vdstream::Payload;
using sp_test::Clip;
using sp_test::ClipRecipe;
using vdstream::Codec;
using vdstream::Framing;

TEST_F(CodecTest, CodecHeadersOpenInThePlayersPool) {
  // Any picture up to 1920x1080, in either framing, in the pool of open mode 0.
  for (Codec codec : {Codec::H264, Codec::H265}) {
    if (codec == Codec::H265 && !Decodes(codec)) continue;  // Windows without an H.265 MFT
    for (Framing framing : {Framing::Packets, Framing::AnnexB}) {
      Bytes h = vdstream::makeFileHeader(1920, 1080, 25, 1, codec, framing);
      EXPECT_TRUE(VdPlay_OpenStream(3, h.data(), 40, 512000)) << VdPlay_GetLastError(3);
      VdPlay_CloseStream(3);
    }
  }
}

TEST_F(CodecTest, H264WithBFramesPlaysEveryPictureInDisplayOrder) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});
  ASSERT_FALSE(clip.units.empty());
  start(0, clip, Framing::Packets);
  feedAll(0, clip.Packets());
  ASSERT_TRUE(waitShown(0, clip.units.size())) << shownOn(0).size();
  const std::vector<Shown> shown = shownOn(0);
  std::vector<std::uint32_t> stamps;
  for (const Shown& s : shown) stamps.push_back(s.stamp);
  EXPECT_EQ(stamps, clip.displayPtsMs);
  expectMatchesReference(clip, shown);  // natively the same decoder: identical pictures
  EXPECT_EQ(PortStats(0).packetsDamaged, 0u);
}

TEST_F(CodecTest, H264AsBareAnnexBInAnyPiecesPlaysEveryPicture) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});  // B-pictures
  ASSERT_FALSE(clip.units.empty());
  start(1, clip, Framing::AnnexB, 100);
  feedAll(1, clip.AnnexB(), 777);
  // The last pictures come out when no data has followed for a second.
  ASSERT_TRUE(waitShown(1, clip.units.size(), 6000)) << shownOn(1).size();
  const std::vector<Shown> shown = shownOn(1);
  ASSERT_EQ(shown.size(), clip.units.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].stamp, i * 10) << "stamps follow the header's rate";
    EXPECT_GE(sp_test::Psnr(shown[i].picture.data(), clip.reference[i].data(),
                            clip.reference[i].size()),
              kReferenceDb)
        << "picture " << i;
  }
  EXPECT_EQ(PortStats(1).packetsDamaged, 0u);
}

// An encoder's own transport stream, handed over as it comes in odd pieces,
// the codec left to the stream's map: every picture at its time stamp, on
// every build (the H.265 and program stream cases are native only).
TEST_F(CodecTest, H264TransportStreamInOddPiecesPlaysEveryPictureAtItsStamp) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});  // B-pictures
  ASSERT_FALSE(clip.transportStream.empty());
  const Bytes header = vdstream::makeFileHeader(clip.recipe.width, clip.recipe.height, 25, 1,
                                                Codec::None, Framing::TransportStream);
  ASSERT_TRUE(VdPlay_OpenStream(2, const_cast<std::uint8_t*>(header.data()), 40, 512000))
      << VdPlay_GetLastError(2);
  ASSERT_TRUE(VdPlay_SetDisplayCallBack(2, keepPicture));
  ASSERT_TRUE(VdPlay_Play(2, nullptr));
  feedAll(2, clip.transportStream, 1001);
  ASSERT_TRUE(waitShown(2, clip.units.size(), 8000)) << shownOn(2).size();
  std::vector<Shown> shown = shownOn(2);
  std::vector<std::uint32_t> stamps;
  for (Shown& s : shown) stamps.push_back(s.stamp -= clip.firstPtsMs);
  EXPECT_EQ(stamps, clip.displayPtsMs);
  expectMatchesReference(clip, shown);
  EXPECT_EQ(PortStats(2).packetsDamaged, 0u);
}

TEST_F(CodecTest, H265AsBareAnnexBInAnyPiecesPlaysEveryPicture) {
  SKIP_UNLESS_DECODES(Codec::H265);
  ClipRecipe recipe;
  recipe.codec = Codec::H265;
  recipe.frames = 30;
  recipe.openGop = true;
  recipe.gop = 10;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  start(1, clip, Framing::AnnexB, 100);
  feedAll(1, clip.AnnexB(), 777);
  // The last pictures come out when no data has followed for a second.
  ASSERT_TRUE(waitShown(1, clip.units.size(), 6000)) << shownOn(1).size();
  const std::vector<Shown> shown = shownOn(1);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].stamp, i * 10) << "stamps follow the header's rate";
    EXPECT_GE(sp_test::Psnr(shown[i].picture.data(), clip.reference[i].data(),
                            clip.reference[i].size()),
              kReferenceDb)
        << "picture " << i;
  }
}

TEST_F(CodecTest, StartMidGopShowsNothingBeforeTheFirstKeyPicture) {
  ClipRecipe recipe;
  recipe.frames = 40;
  recipe.gop = 20;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_GE(clip.units.size(), 40u);
  std::size_t nextKey = 7;
  while (!clip.units[nextKey].key) ++nextKey;
  start(0, clip, Framing::Packets);
  feedAll(0, clip.Packets(7));
  // Shown at their time stamps; the held pictures come out a second after the data.
  ASSERT_TRUE(waitShown(0, clip.units.size() - nextKey, 8000)) << shownOn(0).size();
  SleepMs(300);
  const std::vector<Shown> shown = shownOn(0);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().stamp, clip.units[nextKey].ptsMs) << "first is the key picture";
  EXPECT_EQ(shown.size(), clip.units.size() - nextKey);
  expectMatchesReference(clip, shown);
}

TEST_F(CodecTest, DamagedUnitsAreCountedAndPlayResumesAtTheNextKeyPicture) {
  ClipRecipe recipe;
  recipe.frames = 60;
  recipe.gop = 20;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_GE(clip.units.size(), 60u);
  start(0, clip, Framing::Packets);
  const auto type = vdstream::Payload::H264;
  Bytes data;
  for (std::size_t i = 0; i < clip.units.size(); ++i) {
    Bytes unit = clip.units[i].data;
    if (i == 5 || i == 6) {
      for (std::size_t b = unit.size() / 3; b < unit.size(); b += 7) unit[b] ^= 0x5A;  // slice data
    } else if (i == 12) {
      unit.resize(unit.size() / 2);  // truncated
    } else if (i == 13) {
      unit.assign(unit.size(), 0xFF);  // no NAL unit at all
    }
    vdstream::appendPacket(data, unit.data(), unit.size(), clip.units[i].ptsMs, type);
  }
  feedAll(0, data);
  // Everything from the next key picture on is shown and correct.
  const auto shownAfterDamage = [&] {
    std::vector<Shown> after;
    for (const Shown& s : shownOn(0))
      if (s.stamp >= clip.units[20].ptsMs) after.push_back(s);
    return after;
  };
  ASSERT_TRUE(WaitFor([&] { return shownAfterDamage().size() >= 40; }, std::chrono::seconds(8)));
  SleepMs(300);
  EXPECT_GT(PortStats(0).packetsDamaged, 0u);
  const std::vector<Shown> after = shownAfterDamage();
  EXPECT_EQ(after.size(), 40u);
  expectMatchesReference(clip, after);
}

TEST_F(CodecTest, PictureSizeFollowsTheStream) {
  ClipRecipe small;
  small.frames = 10;
  small.bFrames = 0;
  ClipRecipe large = small;
  large.width = 640;
  large.height = 360;
  const Clip& a = sp_test::MakeClip(small);
  const Clip& b = sp_test::MakeClip(large);
  start(0, a, Framing::AnnexB);
  VdLong w = 0, h = 0;
  ASSERT_TRUE(VdPlay_GetPictureSize(0, &w, &h));
  EXPECT_EQ(w * 10000 + h, 352 * 10000 + 288) << "the header's size until a picture is decoded";
  Bytes both = a.AnnexB();
  const Bytes second = b.AnnexB();
  both.insert(both.end(), second.begin(), second.end());
  feedAll(0, both);
  ASSERT_TRUE(waitShown(0, 20, 6000)) << shownOn(0).size();
  const std::vector<Shown> shown = shownOn(0);
  EXPECT_EQ(shown[9].width * 10000 + shown[9].height, 352 * 10000 + 288);
  EXPECT_EQ(shown[10].width * 10000 + shown[10].height, 640 * 10000 + 360);
  EXPECT_GE(sp_test::Psnr(shown[15].picture.data(), b.reference[5].data(), b.reference[5].size()),
            kReferenceDb);
  ASSERT_TRUE(VdPlay_GetPictureSize(0, &w, &h));
  EXPECT_EQ(w * 10000 + h, 640 * 10000 + 360);
  VdRect whole{0, 0, 640, 360};
  EXPECT_TRUE(VdPlay_SetDisplayRegion(0, 0, &whole, nullptr, 1)) << "regions follow the size";
}

// HD pictures keep their coded colour values: a decoder that would take an
// HD stream naming no colour space as BT.709 and convert it (Wine's does)
// must not change them.
TEST_F(CodecTest, HdPicturesKeepTheirColourValues) {
  ClipRecipe recipe;
  recipe.width = 1280;
  recipe.height = 720;
  recipe.frames = 10;
  recipe.bFrames = 0;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  start(0, clip, Framing::Packets);
  feedAll(0, clip.Packets());
  ASSERT_TRUE(waitShown(0, clip.units.size())) << shownOn(0).size();
  expectMatchesReference(clip, shownOn(0));
}

TEST_F(CodecTest, ThrowingBFramesAndLowQualityDecodeLess) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});  // three B-pictures to one P-picture
  ASSERT_TRUE(VdPlay_ThrowBFrameNum(0, 2));
  ASSERT_TRUE(VdPlay_SetPicQuality(0, 0));
  start(0, clip, Framing::Packets);
  feedAll(0, clip.Packets());
  SleepMs(1500);
  const std::vector<Shown> shown = shownOn(0);
  EXPECT_GT(shown.size(), 5u);
  EXPECT_LT(shown.size(), clip.units.size() * 2 / 3) << "B-pictures skipped";
  VdPlay_ThrowBFrameNum(0, 0);
  VdPlay_SetPicQuality(0, 1);
}

// Whether an H.264 access unit's first slice is a B slice: slice_type (the
// second Exp-Golomb number of the slice header) modulo 5 is 1.
bool IsBPicture(const Bytes& unit) {
  for (std::size_t i = 0; i + 4 < unit.size(); ++i) {
    if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) continue;
    const int nalType = unit[i + 3] & 0x1f;
    if (nalType != 1 && nalType != 5) continue;
    // The slice header's bits, without emulation-prevention bytes.
    std::vector<int> bits;
    int zeros = 0;
    for (std::size_t j = i + 4; j < unit.size() && bits.size() < 64; ++j) {
      if (zeros >= 2 && unit[j] == 3) {
        zeros = 0;
        continue;
      }
      zeros = unit[j] == 0 ? zeros + 1 : 0;
      for (int b = 7; b >= 0; --b) bits.push_back((unit[j] >> b) & 1);
    }
    std::size_t at = 0;
    auto expGolomb = [&] {
      int leading = 0;
      while (at < bits.size() && bits[at] == 0) ++leading, ++at;
      ++at;  // the 1
      unsigned value = 0;
      for (int k = 0; k < leading && at < bits.size(); ++k) value = value * 2 + bits[at++];
      return (1u << leading) - 1 + value;
    };
    expGolomb();  // first_mb_in_slice
    return expGolomb() % 5 == 1;
  }
  return false;
}

// Throw level 1 drops the B-pictures no other picture refers to, level 2
// every B-picture: with a clip whose middle B-pictures are references (the
// encoder's B-pyramid), level 1 shows more pictures than level 2, and level
// 2 shows no more than the I- and P-pictures.
TEST_F(CodecTest, ThrowLevelOneKeepsReferenceBPicturesAndLevelTwoNone) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});  // three B-pictures to one P-picture
  ASSERT_FALSE(clip.units.empty());
  std::size_t notB = 0;
  for (const sp_test::AccessUnit& unit : clip.units) notB += IsBPicture(unit.data) ? 0 : 1;
  ASSERT_LT(notB, clip.units.size()) << "the clip has no B-pictures";
  for (int port : {0, 1}) {
    ASSERT_TRUE(VdPlay_ThrowBFrameNum(port, port + 1));
    start(port, clip, Framing::Packets);
  }
  const Bytes packets = clip.Packets();
  for (int port : {0, 1}) feedAll(port, packets);
  SleepMs(1500);
  const std::size_t levelOne = shownOn(0).size();
  const std::size_t levelTwo = shownOn(1).size();
  EXPECT_GT(levelTwo, 0u);
  EXPECT_LE(levelTwo, notB) << "level 2 showed a B-picture";
  EXPECT_GT(levelOne, levelTwo) << "level 1 dropped the reference B-pictures too";
  EXPECT_LT(levelOne, clip.units.size()) << "level 1 dropped nothing";
  for (int port : {0, 1}) VdPlay_ThrowBFrameNum(port, 0);
}

TEST_F(CodecTest, ResetFlushesTheDecoder) {
  const Clip& clip = sp_test::MakeClip(ClipRecipe{});
  start(0, clip, Framing::Packets);
  ASSERT_TRUE(VdPlay_Pause(0, 1));
  feedAll(0, clip.Packets());
  SleepMs(100);
  ASSERT_TRUE(VdPlay_ResetSourceBuffer(0));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
  // A stream fed after the reset starts clean: its pictures, nothing older.
  feedAll(0, clip.Packets());
  ASSERT_TRUE(VdPlay_Pause(0, 0));
  ASSERT_TRUE(waitShown(0, clip.units.size()));
  const std::vector<Shown> shown = shownOn(0);
  EXPECT_EQ(shown.size(), clip.units.size());
  EXPECT_EQ(shown.front().stamp, 0u);
  expectMatchesReference(clip, shown);
}

TEST_F(CodecTest, FastSpeedDropsPicturesItCannotDecodeInTime) {
  ClipRecipe recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.frames = 40;
  recipe.decodeReference = false;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_FALSE(clip.units.empty());
  start(0, clip, Framing::Packets, 25);
  // Sixteen times 25 frames/s: 2.5 ms per picture, less than a 1080p decode takes here.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(VdPlay_Fast(0));
  const auto begin = std::chrono::steady_clock::now();
  feedAll(0, clip.Packets());
  // Generous: under ThreadSanitizer decoding 1080p alone takes several seconds.
  ASSERT_TRUE(WaitFor([&] { return PortStats(0).framesDecoded >= clip.units.size() - 3; },
                      std::chrono::seconds(60)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const VdPlayStats s = PortStats(0);
  EXPECT_LT(s.framesDisplayed, s.framesDecoded) << "late pictures were dropped";
  EXPECT_GT(s.framesDisplayed, 0u);
  // No bound on the time: under a sanitizer the decoding alone takes longer
  // than normal speed would; the dropped pictures show the port kept pace.
  std::printf("16x 1080p: %u of %u decoded pictures shown in %.2f s\n", s.framesDisplayed,
              s.framesDecoded, seconds);
}

#ifdef _WIN32
namespace {

// Under Wine, the Unix process this program runs in: the decoder's own
// threads (GStreamer's) are no Windows threads, and GetProcessTimes misses
// them; the process's /proc entry counts them all. Wine opens files through
// its server, so /proc/self would be the server's: the entry is found by the
// program's name on its command line. Empty on Windows.
std::string WineProcessStat() {
  static const std::string found = [] {
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    const char* name = std::strrchr(own, '\\');
    name = name ? name + 1 : own;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) return std::string();
    std::string path;
    do {
      if (entry.cFileName[0] < '1' || entry.cFileName[0] > '9') continue;
      const std::string dir = std::string("Z:/proc/") + entry.cFileName;
      std::FILE* f = std::fopen((dir + "/cmdline").c_str(), "rb");
      if (!f) continue;
      char line[4096] = {};
      const std::size_t n = std::fread(line, 1, sizeof line - 1, f);
      std::fclose(f);
      for (std::size_t i = 0; i < n; ++i)
        if (line[i] == 0) line[i] = ' ';
      if (std::strstr(line, name) && !std::strstr(line, "wine-run")) {
        path = dir + "/stat";
        break;
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return path;
  }();
  return found;
}

// CPU time of the whole process so far, in seconds, every thread included.
double ProcessCpuSeconds() {
  const std::string stat = WineProcessStat();
  if (std::FILE* f = stat.empty() ? nullptr : std::fopen(stat.c_str(), "r")) {
    char text[1024] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = 0;
    const char* after = std::strrchr(text, ')');  // past the command name
    unsigned long long user = 0, system = 0;
    if (after && std::sscanf(after + 2,
                             "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                             &system) == 2)
      return static_cast<double>(user + system) / 100.0;  // clock ticks
  }
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

// Information for bench/RESULTS.md: what decoding 1080p costs here, at the
// stream's real rate through one port (no window, no callback).
TEST_F(CodecTest, DecodeCostOf1080pAtRealRate) {
  ClipRecipe recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.frames = 125;  // 5 s
  recipe.bFrames = 2;
  recipe.decodeReference = false;
  const Clip& clip = sp_test::MakeClip(recipe);
  ASSERT_EQ(clip.units.size(), 125u);
  Bytes header = clip.Header(Framing::Packets, 25);
  ASSERT_TRUE(VdPlay_OpenStream(0, header.data(), 40, 1024000)) << VdPlay_GetLastError(0);
  const double cpuBefore = ProcessCpuSeconds();
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  feedAll(0, clip.Packets());
  ASSERT_TRUE(WaitFor([&] { return PortStats(0).framesDisplayed >= clip.units.size(); },
                      std::chrono::seconds(60)));
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_EQ(PortStats(0).packetsDamaged, 0u);
  std::printf("decode cost: H.264 1080p25, 125 pictures (5.0 s of video) shown in %.1f s: "
              "%.3f CPU-s per s of video (%.2f CPU-s of the process, %s)\n",
              wall, cpu / 5.0, cpu,
              WineProcessStat().empty() ? "GetProcessTimes" : "its Unix process under Wine");
}
#endif
