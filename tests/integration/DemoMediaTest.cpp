// The demo host's reader of video files: clips made with the ffmpeg command
// in several containers come out as the stand-in's stream, one packet per
// access unit in Annex-B form with its presentation time.
#include <gtest/gtest.h>

#include <VdStreamFormat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "../../examples/spdemo/sources.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Makes a clip of testsrc2 with the ffmpeg command; false when that failed.
bool MakeClip(const std::string& path, const std::string& size, int frames,
              const std::string& codecArgs) {
  const std::string command = std::string(SPDEMO_TEST_FFMPEG) +
                              " -v error -y -f lavfi -i testsrc2=size=" + size +
                              ":rate=25 -frames:v " + std::to_string(frames) +
                              " -pix_fmt yuv420p " + codecArgs + " '" + path + "'";
  return std::system(command.c_str()) == 0;
}

struct Unit {
  std::uint32_t type;
  std::uint32_t stampMs;
  double due;
  Bytes payload;
};

// Every packet of the source, checked for its frame.
std::vector<Unit> ReadAll(spdemo::PacketSource& source) {
  std::vector<Unit> units;
  Bytes block;
  while (source.next(block)) {
    EXPECT_GE(block.size(), vdstream::kPacketHeaderSize);
    if (block.size() < vdstream::kPacketHeaderSize) break;
    EXPECT_EQ(std::memcmp(block.data(), vdstream::kPacketMagic, 4), 0);
    EXPECT_EQ(Get32(&block[4]), block.size() - vdstream::kPacketHeaderSize);
    units.push_back({Get32(&block[12]), Get32(&block[8]), source.dueSeconds(),
                     Bytes(block.begin() + vdstream::kPacketHeaderSize, block.end())});
  }
  return units;
}

bool StartsWithStartCode(const Bytes& b) {
  return (b.size() > 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) ||
         (b.size() > 3 && b[0] == 0 && b[1] == 0 && b[2] == 1);
}

// NAL unit types found after start codes (H.264: low 5 bits; H.265: bits 1-6).
std::set<int> NalTypes(const Bytes& b, bool h265) {
  std::set<int> types;
  for (std::size_t i = 0; i + 3 < b.size(); ++i) {
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
      types.insert(h265 ? (b[i + 3] >> 1) & 0x3F : b[i + 3] & 0x1F);
    }
  }
  return types;
}

TEST(DemoMedia, Mp4WithBFramesBecomesAnnexBAccessUnitsInDecodingOrder) {
  sp_test::TempDir dir;
  const std::string clip = dir.File("b.mp4");
  ASSERT_TRUE(MakeClip(clip, "352x288", 25, "-c:v libx264 -preset veryfast -bf 2 -g 12"));
  std::string error;
  auto source = spdemo::openFileSource(clip, error);
  ASSERT_NE(source, nullptr) << error;

  const Bytes& header = source->header();
  ASSERT_EQ(header.size(), vdstream::kFileHeaderSize);
  EXPECT_EQ(Get32(&header[8]), 352u);
  EXPECT_EQ(Get32(&header[12]), 288u);
  EXPECT_EQ(static_cast<double>(Get32(&header[16])) / Get32(&header[20]), 25.0);
  EXPECT_EQ(Get32(&header[vdstream::kCodecOffset]),
            static_cast<std::uint32_t>(vdstream::Codec::H264));
  EXPECT_EQ(Get32(&header[vdstream::kFramingOffset]), 0u);

  const auto units = ReadAll(*source);
  EXPECT_EQ(source->error(), "");
  ASSERT_EQ(units.size(), 25u);
  std::set<std::uint32_t> stamps;
  bool reordered = false;
  for (std::size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(units[i].type, static_cast<std::uint32_t>(vdstream::Payload::H264));
    EXPECT_TRUE(StartsWithStartCode(units[i].payload)) << "unit " << i;
    stamps.insert(units[i].stampMs);
    if (i > 0) {
      EXPECT_GE(units[i].due, units[i - 1].due) << "due times follow decoding order";
      reordered = reordered || units[i].stampMs < units[i - 1].stampMs;
    }
  }
  EXPECT_TRUE(reordered) << "B-frames put presentation times out of decoding order";
  ASSERT_EQ(stamps.size(), 25u);
  EXPECT_EQ(*stamps.begin(), 0u);
  EXPECT_EQ(*stamps.rbegin(), 960u);
  EXPECT_NEAR(units.back().due, 0.96, 0.001);
  // Parameter sets travel in band before the key frames (SPS 7, PPS 8, IDR 5).
  const auto first = NalTypes(units[0].payload, false);
  EXPECT_TRUE(first.count(7) && first.count(8) && first.count(5));
  EXPECT_TRUE(NalTypes(units[12].payload, false).count(7)) << "again at the second key frame";
}

TEST(DemoMedia, OtherContainersAndH265) {
  struct Case {
    const char* file;
    const char* args;
    vdstream::Codec codec;
  };
  const Case cases[] = {
      {"a.mkv", "-c:v libx265 -preset ultrafast -x265-params log-level=error",
       vdstream::Codec::H265},
      {"a.265", "-c:v libx265 -preset ultrafast -x265-params log-level=error -f hevc",
       vdstream::Codec::H265},
      {"a.mov", "-c:v libx264 -preset veryfast", vdstream::Codec::H264},
      {"a.h264", "-c:v libx264 -preset veryfast -f h264", vdstream::Codec::H264},
  };
  sp_test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string clip = dir.File(c.file);
    ASSERT_TRUE(MakeClip(clip, "320x240", 10, c.args));
    std::string error;
    auto source = spdemo::openFileSource(clip, error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(Get32(&source->header()[vdstream::kCodecOffset]),
              static_cast<std::uint32_t>(c.codec));
    const bool h265 = c.codec == vdstream::Codec::H265;
    const auto units = ReadAll(*source);
    EXPECT_EQ(source->error(), "");
    ASSERT_EQ(units.size(), 10u);
    std::set<std::uint32_t> stamps;
    for (const Unit& u : units) {
      EXPECT_EQ(u.type, static_cast<std::uint32_t>(h265 ? vdstream::Payload::H265
                                                        : vdstream::Payload::H264));
      EXPECT_TRUE(StartsWithStartCode(u.payload));
      stamps.insert(u.stampMs);
    }
    EXPECT_EQ(stamps.size(), 10u) << "every picture has its own time";
    EXPECT_EQ(*stamps.rbegin(), 360u);
    // H.265 parameter sets: VPS 32, SPS 33, PPS 34.
    const auto first = NalTypes(units[0].payload, h265);
    EXPECT_TRUE(h265 ? first.count(32) && first.count(33) : first.count(7) && first.count(8));
  }
}

TEST(DemoMedia, CutOrForeignFilesAreRefusedOrEndWithAnError) {
  sp_test::TempDir dir;
  const std::string atEnd = dir.File("index-at-end.mp4");
  const std::string atStart = dir.File("index-at-start.mp4");
  ASSERT_TRUE(MakeClip(atEnd, "352x288", 50, "-c:v libx264 -preset veryfast"));
  ASSERT_TRUE(MakeClip(atStart, "352x288", 50, "-c:v libx264 -preset veryfast -movflags +faststart"));
  for (const std::string& path : {atEnd, atStart}) {
    const std::string whole = sp_test::ReadFile(path);
    sp_test::WriteFile(path, whole.substr(0, whole.size() / 2));
  }
  std::string error;
  EXPECT_EQ(spdemo::openFileSource(atEnd, error), nullptr) << "the index is cut off";
  EXPECT_NE(error, "");

  auto cut = spdemo::openFileSource(atStart, error);
  ASSERT_NE(cut, nullptr) << error;
  const auto units = ReadAll(*cut);
  EXPECT_LT(units.size(), 50u);
  EXPECT_NE(cut->error(), "") << "a file that ends early is reported";

  const std::string mpeg4 = dir.File("other.avi");
  ASSERT_TRUE(MakeClip(mpeg4, "176x144", 5, "-c:v mpeg4"));
  EXPECT_EQ(spdemo::openFileSource(mpeg4, error), nullptr);
  EXPECT_NE(error.find("only H.264 and H.265"), std::string::npos) << error;
}

}  // namespace
