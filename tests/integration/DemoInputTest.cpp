// The demo host's inputs: YUV4MPEG2 files and stream files read back into the
// blocks it feeds the player.
#include <gtest/gtest.h>

#include <VdStreamFormat.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../examples/spdemo/sources.h"
#include "../../examples/spdemo/y4m_reader.h"
#include "support/MpegStreams.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Y4m(const std::string& header, int frames, std::size_t pictureBytes,
                const std::string& frameHeader = "FRAME") {
  std::string text = header + "\n";
  for (int i = 0; i < frames; ++i) {
    text += frameHeader + "\n";
    for (std::size_t b = 0; b < pictureBytes; ++b) text += static_cast<char>('a' + (i + b) % 26);
  }
  return text;
}

TEST(DemoY4m, ReadsFourTwoZeroFramesWithTheirRate) {
  sp_test::TempDir dir;
  const std::string path = dir.File("in.y4m");
  sp_test::WriteFile(path, Y4m("YUV4MPEG2 W8 H4 F30000:1001 It A1:1 C420jpeg XYSCSS=420JPEG", 3,
                               48, "FRAME Ixyz"));
  spdemo::Y4mReader reader;
  ASSERT_TRUE(reader.open(path)) << reader.error();
  EXPECT_EQ(reader.width(), 8u);
  EXPECT_EQ(reader.height(), 4u);
  EXPECT_EQ(reader.rateNumerator(), 30000u);
  EXPECT_EQ(reader.rateDenominator(), 1001u);
  std::vector<std::uint8_t> picture;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(reader.readFrame(picture)) << reader.error();
    ASSERT_EQ(picture.size(), 48u);
    EXPECT_EQ(picture[0], 'a' + i);
    EXPECT_EQ(picture[47], 'a' + (i + 47) % 26);
  }
  EXPECT_FALSE(reader.readFrame(picture));
  EXPECT_EQ(reader.error(), "");
}

TEST(DemoY4m, RefusesWhatItCannotPlay) {
  std::uint32_t w = 0, h = 0, num = 0, den = 0;
  std::string error;
  EXPECT_TRUE(spdemo::parseY4mHeader("YUV4MPEG2 W352 H288", w, h, num, den, error));
  EXPECT_EQ(num, 25u) << "25 fps without an F tag";
  for (const char* header : {"YUV4MPEG2 W352 H288 C444", "YUV4MPEG2 W352 H288 C420p10",
                             "YUV4MPEG2 W352 H288 Cmono", "YUV4MPEG2 W351 H288",
                             "YUV4MPEG2 W352", "YUV4MPEG2 W8192 H288", "YUV4MPEG2 W352 H288 F25:0",
                             "YUV4MPEG W352 H288"}) {
    error.clear();
    EXPECT_FALSE(spdemo::parseY4mHeader(header, w, h, num, den, error)) << header;
    EXPECT_FALSE(error.empty()) << header;
  }

  sp_test::TempDir dir;
  const std::string path = dir.File("cut.y4m");
  std::string text = Y4m("YUV4MPEG2 W8 H4 F25:1", 2, 48);
  text.resize(text.size() - 5);
  sp_test::WriteFile(path, text);
  spdemo::Y4mReader reader;
  ASSERT_TRUE(reader.open(path));
  std::vector<std::uint8_t> picture;
  EXPECT_TRUE(reader.readFrame(picture));
  EXPECT_FALSE(reader.readFrame(picture));
  EXPECT_NE(reader.error(), "") << "a cut-off frame is reported";
}

TEST(DemoSources, StreamFileComesBackPacketByPacketWithJunkApart) {
  const std::uint32_t w = 16, h = 8;
  Bytes picture(vdstream::pictureBytes(w, h));
  std::vector<Bytes> blocks;
  for (std::uint32_t i = 0; i < 3; ++i) {
    vdstream::fillTestPicture(picture.data(), w, h, i);
    blocks.push_back(vdstream::makePacket(picture.data(), picture.size(), i * 40,
                                          i == 1 ? vdstream::Payload::Raw : vdstream::Payload::Zlib));
  }
  blocks.insert(blocks.begin() + 2, Bytes(70, 'V'));  // no packet, though it starts like one
  const Bytes header = vdstream::makeFileHeader(w, h, 25, 1);
  std::string file(header.begin(), header.end());
  for (const Bytes& b : blocks) file.append(b.begin(), b.end());

  sp_test::TempDir dir;
  sp_test::WriteFile(dir.File("s.vdps"), file);
  std::string error;
  auto source = spdemo::openFileSource(dir.File("s.vdps"), error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_EQ(source->header(), header);
  EXPECT_EQ(source->info().width, w);
  Bytes block;
  for (const Bytes& want : blocks) {
    ASSERT_TRUE(source->next(block));
    EXPECT_EQ(block, want);
  }
  EXPECT_FALSE(source->next(block));

  sp_test::WriteFile(dir.File("other.bin"), "RIFF....");
  EXPECT_EQ(spdemo::openFileSource(dir.File("other.bin"), error), nullptr);
}

TEST(DemoSources, CutStreamFileEndsWithAnErrorAndHeaderOnlyWithNothing) {
  const std::uint32_t w = 16, h = 8;
  Bytes picture(vdstream::pictureBytes(w, h));
  const Bytes header = vdstream::makeFileHeader(w, h, 25, 1);
  Bytes file = header;
  vdstream::appendPacket(file, picture.data(), picture.size(), 0, vdstream::Payload::Raw);
  vdstream::appendPacket(file, picture.data(), picture.size(), 40, vdstream::Payload::Raw);
  file.resize(file.size() - 1);

  sp_test::TempDir dir;
  sp_test::WriteFile(dir.File("cut.vdps"), std::string(file.begin(), file.end()));
  sp_test::WriteFile(dir.File("header.vdps"), std::string(header.begin(), header.end()));
  std::string error;
  auto cut = spdemo::openFileSource(dir.File("cut.vdps"), error);
  ASSERT_NE(cut, nullptr) << error;
  Bytes block;
  ASSERT_TRUE(cut->next(block));
  EXPECT_DOUBLE_EQ(cut->dueSeconds(), 0);
  EXPECT_FALSE(cut->next(block)) << "the cut packet is not handed on: the decoder would wait";
  EXPECT_NE(cut->error().find("ends inside a packet"), std::string::npos) << cut->error();

  auto empty = spdemo::openFileSource(dir.File("header.vdps"), error);
  ASSERT_NE(empty, nullptr) << error;
  EXPECT_FALSE(empty->next(block));
  EXPECT_EQ(empty->error(), "");
}

TEST(DemoSources, Y4mPacketsAreDueAtTheirFrameTimes) {
  sp_test::TempDir dir;
  sp_test::WriteFile(dir.File("in.y4m"), Y4m("YUV4MPEG2 W8 H4 F50:1", 3, 48));
  std::string error;
  auto source = spdemo::openFileSource(dir.File("in.y4m"), error, vdstream::Payload::Raw);
  ASSERT_NE(source, nullptr) << error;
  Bytes block;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(source->next(block));
    EXPECT_DOUBLE_EQ(source->dueSeconds(), i * 0.02);
    ASSERT_EQ(block.size(), vdstream::kPacketHeaderSize + 48);
    EXPECT_EQ(block[8], i * 20) << "time stamp in ms";
    EXPECT_EQ(block[12], static_cast<std::uint8_t>(vdstream::Payload::Raw));
  }
}

}  // namespace

// Program and transport stream files go to the stand-in as they are, in
// pieces, each due when the pictures in it are.
TEST(DemoMpegFiles, TransportStreamIsHandedOverWholeAndPacedByItsTimes) {
  std::vector<sp_test::MpegUnit> units;
  for (int i = 0; i < 50; ++i) {
    sp_test::MpegUnit unit;
    unit.data = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65, 0x88};
    unit.data.resize(3000, static_cast<std::uint8_t>(0x11 + i));
    unit.pts = 900000 + static_cast<std::uint64_t>(i) * 3600;  // 40 ms apart
    units.push_back(std::move(unit));
  }
  const Bytes ts = sp_test::WriteTransportStream(units);
  sp_test::TempDir dir;
  const std::string path = dir.File("camera.TS");
  sp_test::WriteFile(path, std::string(ts.begin(), ts.end()));
  std::string error;
  const auto source = spdemo::openFileSource(path, error);
  ASSERT_TRUE(source) << error;
  const Bytes& header = source->header();
  EXPECT_EQ(header[vdstream::kFramingOffset], 3);
  EXPECT_EQ(header[vdstream::kCodecOffset], 0) << "the codec is left to the stream";
  EXPECT_FALSE(source->blocksArePictures());
  Bytes all, block;
  std::size_t pieces = 0;
  double lastDue = 0;
  while (source->next(block)) {
    all.insert(all.end(), block.begin(), block.end());
    EXPECT_GE(source->dueSeconds(), lastDue);
    lastDue = source->dueSeconds();
    ++pieces;
  }
  EXPECT_EQ(all, ts);
  EXPECT_GT(pieces, 3u);
  EXPECT_NEAR(lastDue, 49 * 0.04, 0.2);
}

TEST(DemoLiveInput, MalformedAddressesAreRefused) {
  std::string error;
  for (const char* address : {"udp://127.0.0.1", "tcp://:", "udp://localhost:"}) {
    error.clear();
    EXPECT_FALSE(spdemo::openFileSource(address, error)) << address;
    EXPECT_NE(error.find("expected udp://HOST:PORT"), std::string::npos) << error;
  }
}
