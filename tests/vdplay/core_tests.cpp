// The library's parts without threads: source ring, packet parser, decoder,
// pacing arithmetic, colour conversion, and the stream writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "VdStreamFormat.h"
#include "byte_ring.h"
#include "color.h"
#include "frame_decoder.h"
#include "packet_parser.h"
#include "pacer.h"
#include "stream_header.h"

using namespace vdplay;
using Bytes = std::vector<std::uint8_t>;
using vdstream::Payload;

namespace {

StreamFormat formatOf(std::uint32_t w, std::uint32_t h) {
  const Bytes header = vdstream::makeFileHeader(w, h, 25, 1);
  StreamFormat f;
  EXPECT_EQ(parseFileHeader(header.data(), header.size(), f), 0u);
  return f;
}

Bytes picture(std::uint32_t w, std::uint32_t h, std::uint32_t index) {
  Bytes p(vdstream::pictureBytes(w, h));
  vdstream::fillTestPicture(p.data(), w, h, index);
  return p;
}

// Leaves exactly bytes in the ring, starting at storage index at (>= 1).
void placeAt(ByteRing& ring, std::size_t at, const Bytes& bytes) {
  ring.clear();
  const Bytes pad(at);
  ring.write(pad.data(), pad.size());
  ring.consume(at - 1);  // not all: emptying the ring moves it back to the start
  ring.write(bytes.data(), bytes.size());
  ring.consume(1);
}

// Parses, decodes and consumes every packet now in the ring.
std::vector<Bytes> drain(ByteRing& ring, PacketParser& parser, FrameDecoder& decoder,
                         std::uint32_t* damaged, std::size_t pictureBytes) {
  std::vector<Bytes> out;
  for (;;) {
    PacketRef p;
    const auto r = parser.next(ring, p);
    *damaged += r.damaged;
    if (r.status == PacketParser::Status::NeedData) return out;
    const std::uint8_t* pic = decoder.decode(ring, p);
    if (pic) {
      out.emplace_back(pic, pic + pictureBytes);
    } else {
      ++*damaged;
    }
    ring.consume(p.totalSize);
  }
}

}  // namespace

TEST(ByteRing, WholeWritesOnlyAndPiecesAcrossTheEnd) {
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(10));
  Bytes a(7);
  std::iota(a.begin(), a.end(), 1);
  ASSERT_TRUE(ring.write(a.data(), 7));
  EXPECT_FALSE(ring.write(a.data(), 4));  // all or nothing
  EXPECT_EQ(ring.size(), 7u);
  ring.consume(5);
  ASSERT_TRUE(ring.write(a.data(), 6));  // 2 stored + 6 = 8, wrapping
  const ByteRing::View v = ring.view(0, 8);
  EXPECT_EQ(v.firstLen + v.secondLen, 8u);
  EXPECT_GT(v.secondLen, 0u);
  Bytes got(8);
  ring.copyOut(0, got.data(), 8);
  EXPECT_EQ(got, (Bytes{6, 7, 1, 2, 3, 4, 5, 6}));
}

TEST(ByteRing, FindsMagicsAcrossTheEnd) {
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(16));
  placeAt(ring, 13, Bytes{'x', 'V', 'V', 'D', 'F', 'R', 'b'});  // "VDFR" at storage 15, 0, 1, 2
  EXPECT_EQ(ring.view(2, 4).secondLen, 3u);
  EXPECT_EQ(ring.find(0, vdstream::kPacketMagic, vdstream::kFileMagic), 2u);
  EXPECT_EQ(ring.find(3, vdstream::kPacketMagic, vdstream::kFileMagic), ByteRing::npos);
}

TEST(PacketParser, EveryTwoWaySplitGivesTheSamePictures) {
  const StreamFormat f = formatOf(8, 6);
  Bytes data;
  std::vector<Bytes> pics;
  for (std::uint32_t i = 0; i < 3; ++i) {
    pics.push_back(picture(8, 6, i));
    vdstream::appendPacket(data, pics.back().data(), pics.back().size(), i,
                           i == 1 ? Payload::Zlib : Payload::Raw);
  }
  for (std::size_t split = 0; split <= data.size(); ++split) {
    // Where the data starts in storage changes with the split point, so that
    // packets also wrap round the end.
    ByteRing ring;
    ASSERT_TRUE(ring.allocate(data.size() + 7));
    PacketParser parser(f);
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.init(f));
    std::uint32_t damaged = 0;
    placeAt(ring, 1 + split % (data.size() + 6), Bytes(data.begin(), data.begin() + split));
    std::vector<Bytes> got = drain(ring, parser, decoder, &damaged, f.pictureBytes);
    ring.write(data.data() + split, data.size() - split);
    for (Bytes& b : drain(ring, parser, decoder, &damaged, f.pictureBytes)) got.push_back(b);
    ASSERT_EQ(got, pics) << "split at " << split;
    ASSERT_EQ(damaged, 0u) << "split at " << split;
  }
}

TEST(PacketParser, JunkCountsOncePerRunAndAMagicPrefixIsKept) {
  const StreamFormat f = formatOf(8, 6);
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(minPoolBytes(f) * 2));
  PacketParser parser(f);
  PacketRef p;
  const Bytes junk(50, 'x');
  ring.write(junk.data(), junk.size());
  ring.write(reinterpret_cast<const std::uint8_t*>("VD"), 2);
  auto r = parser.next(ring, p);
  EXPECT_EQ(r.damaged, 1u);
  EXPECT_EQ(r.status, PacketParser::Status::NeedData);
  EXPECT_EQ(ring.size(), 3u);  // "xVD" may be the start of a magic
  const Bytes pic = picture(8, 6, 0);
  const Bytes packet = vdstream::makePacket(pic.data(), pic.size(), 7, Payload::Raw);
  ring.write(packet.data() + 2, packet.size() - 2);  // completes "VD" into a packet
  r = parser.next(ring, p);
  ASSERT_EQ(r.status, PacketParser::Status::Packet);
  EXPECT_EQ(r.damaged, 0u);  // the 'x' before it belongs to the run already counted
  EXPECT_EQ(p.stampMs, 7u);
  EXPECT_EQ(p.totalSize, packet.size());
  EXPECT_EQ(ring.size(), packet.size());
}

TEST(PacketParser, BadHeaderIsSkippedToTheNextMagic) {
  const StreamFormat f = formatOf(8, 6);
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(minPoolBytes(f) * 4));
  PacketParser parser(f);
  const Bytes pic = picture(8, 6, 0);
  Bytes good = vdstream::makePacket(pic.data(), pic.size(), 3, Payload::Raw);
  Bytes bad = good;
  bad[4] = 71;  // raw payload of the wrong size; the good packet follows after its header
  bad.resize(16);
  ring.write(bad.data(), bad.size());
  ring.write(good.data(), good.size());
  PacketRef p;
  const auto r = parser.next(ring, p);
  EXPECT_EQ(r.damaged, 1u);
  ASSERT_EQ(r.status, PacketParser::Status::Packet);
  EXPECT_EQ(p.stampMs, 3u);
  EXPECT_EQ(ring.size(), good.size());
}

TEST(FrameDecoder, RawInPlaceWrappedCopiedZlibStrict) {
  const StreamFormat f = formatOf(8, 6);
  FrameDecoder decoder;
  ASSERT_TRUE(decoder.init(f));
  const Bytes pic = picture(8, 6, 1);
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(minPoolBytes(f) * 2));
  // Decodes packet placed at storage index at; checks the picture if any.
  const auto decodeAt = [&](const Bytes& packet, std::size_t at) -> const std::uint8_t* {
    placeAt(ring, at, packet);
    PacketParser parser(f);
    PacketRef p;
    if (parser.next(ring, p).status != PacketParser::Status::Packet) return nullptr;
    const std::uint8_t* out = decoder.decode(ring, p);
    if (out && std::memcmp(out, pic.data(), pic.size()) != 0) ADD_FAILURE() << "wrong picture";
    return out;
  };
  const Bytes raw = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Raw);
  const Bytes zlib = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Zlib);
  const std::size_t wrapping = ring.capacity() - 20;  // payload starts 4 bytes before the end

  const std::uint8_t* inPlace = decodeAt(raw, 1);
  ASSERT_TRUE(inPlace);
  EXPECT_EQ(inPlace, ring.view(16, 1).first);  // not copied
  EXPECT_TRUE(decodeAt(raw, wrapping));
  EXPECT_TRUE(decodeAt(zlib, 1));
  EXPECT_TRUE(decodeAt(zlib, wrapping));

  Bytes trailing = zlib;
  trailing.push_back(0);
  trailing[4] = static_cast<std::uint8_t>(trailing[4] + 1);
  EXPECT_FALSE(decodeAt(trailing, 1));
  const Bytes smaller = picture(8, 4, 1), larger = picture(8, 8, 1);
  EXPECT_FALSE(decodeAt(vdstream::makePacket(smaller.data(), smaller.size(), 0, Payload::Zlib), 1));
  EXPECT_FALSE(decodeAt(vdstream::makePacket(larger.data(), larger.size(), 0, Payload::Zlib), 1));
}

TEST(Pacer, DueTimesDoNotDriftWhenFramesAreShownLate) {
  Pacer pacer;
  pacer.setRate(30000, 1001);
  const auto t0 = Pacer::Clock::now();
  pacer.restart(t0);
  for (int i = 0; i < 3000; ++i) pacer.shown(pacer.due() + std::chrono::milliseconds(5));
  const double expected = 3000 * 1001.0 / 30000.0;
  EXPECT_NEAR(std::chrono::duration<double>(pacer.due() - t0).count(), expected, 1e-6);
}

TEST(Pacer, FarBehindRestartsAndSpeedChangesFromTheLastFrame) {
  Pacer pacer;
  pacer.setRate(25, 1);
  const auto t0 = Pacer::Clock::now();
  pacer.restart(t0);
  EXPECT_EQ(pacer.due(), t0);
  const auto late = t0 + std::chrono::milliseconds(500);
  pacer.shown(late);
  EXPECT_NEAR(std::chrono::duration<double>(pacer.due() - late).count(), 0.04, 1e-6);

  pacer.restart(t0);
  pacer.shown(t0);
  pacer.setSpeed(2, t0 + std::chrono::milliseconds(1));  // 100 frames/s
  EXPECT_NEAR(pacer.intervalSeconds(), 0.01, 1e-12);
  EXPECT_NEAR(std::chrono::duration<double>(pacer.due() - t0).count(), 0.01, 1e-6);
  pacer.setSpeed(-4, t0);
  EXPECT_NEAR(pacer.intervalSeconds(), 0.64, 1e-12);
}

TEST(Color, Bt601LimitedRange) {
  const auto near = [](Rgb p, int r, int g, int b) {
    return std::abs(p.r - r) <= 2 && std::abs(p.g - g) <= 2 && std::abs(p.b - b) <= 2;
  };
  EXPECT_TRUE(near(yuvToRgb(81, 90, 240), 255, 0, 0));
  EXPECT_TRUE(near(yuvToRgb(145, 54, 34), 0, 255, 0));
  EXPECT_TRUE(near(yuvToRgb(41, 240, 110), 0, 0, 255));
  const Rgb white = yuvToRgb(235, 128, 128), black = yuvToRgb(16, 128, 128);
  EXPECT_EQ(white.r + white.g + white.b, 3 * 255);
  EXPECT_EQ(black.r + black.g + black.b, 0);
  const Rgb over = yuvToRgb(255, 255, 255), under = yuvToRgb(0, 0, 0);  // clamped, no wrap
  EXPECT_EQ(over.r, 255);
  EXPECT_EQ(under.r, 0);
  EXPECT_EQ(under.g, 135);  // 1.164 * -16 - 0.391 * -128 - 0.813 * -128, rounded down
}

TEST(Color, AdjustmentsNeutralAndExtremes) {
  const ColorAdjuster neutral(ColorSettings{});
  for (int y = 0; y < 256; ++y) ASSERT_EQ(neutral.luma(static_cast<std::uint8_t>(y)), y);
  for (int u = 0; u < 256; u += 5) {
    for (int v = 0; v < 256; v += 7) {
      std::uint8_t uu = static_cast<std::uint8_t>(u), vv = static_cast<std::uint8_t>(v);
      neutral.chroma(uu, vv);
      ASSERT_EQ(uu, u);
      ASSERT_EQ(vv, v);
    }
  }
  const ColorAdjuster flat(ColorSettings{64, 0, 0, 64});  // no contrast, no colour
  std::uint8_t u = 200, v = 30;
  flat.chroma(u, v);
  EXPECT_EQ(flat.luma(20), 128);
  EXPECT_EQ(flat.luma(230), 128);
  EXPECT_EQ(u, 128);
  EXPECT_EQ(v, 128);
  const ColorAdjuster bright(ColorSettings{128, 64, 64, 64});
  EXPECT_EQ(bright.luma(100), 228);
  const ColorAdjuster turned(ColorSettings{64, 64, 64, 128});  // hue half a turn
  u = 200;
  v = 30;
  turned.chroma(u, v);
  EXPECT_EQ(u, 56);
  EXPECT_EQ(v, 226);
}

TEST(Color, RenderTakesTheRegionAndAppliesSettings) {
  // 4 x 2: left chroma block red, right block blue.
  Bytes f = {81, 81, 41, 41, 81, 81, 41, 41, 90, 240, 240, 110};
  std::uint32_t out[2];
  renderXrgb(f.data(), 4, 2, PixelRect{1, 1, 3, 2}, ColorSettings{}, out);
  EXPECT_GE(out[0] >> 16 & 0xFF, 250u);  // red
  EXPECT_LE(out[0] & 0xFF, 3u);
  EXPECT_GE(out[1] & 0xFF, 250u);  // blue
  EXPECT_LE(out[1] >> 16 & 0xFF, 3u);
  renderXrgb(f.data(), 4, 2, PixelRect{1, 1, 3, 2}, ColorSettings{64, 64, 0, 64}, out);
  EXPECT_EQ(out[0] >> 16 & 0xFF, out[0] & 0xFF);  // grey
  EXPECT_EQ(out[0] >> 8 & 0xFF, out[0] & 0xFF);
}

TEST(StreamWriter, HeaderAndPacketLayout) {
  const Bytes h = vdstream::makeFileHeader(352, 288, 30000, 1001);
  ASSERT_EQ(h.size(), 40u);
  EXPECT_EQ(std::memcmp(h.data(), "VDPS", 4), 0);
  EXPECT_EQ(readLe16(&h[4]), 1);
  EXPECT_EQ(readLe16(&h[6]), 40);
  EXPECT_EQ(readLe32(&h[8]), 352u);
  EXPECT_EQ(readLe32(&h[12]), 288u);
  EXPECT_EQ(readLe32(&h[16]), 30000u);
  EXPECT_EQ(readLe32(&h[20]), 1001u);
  EXPECT_EQ(readLe32(&h[24]), 1u);
  EXPECT_TRUE(std::all_of(h.begin() + 28, h.end(), [](std::uint8_t b) { return b == 0; }));

  const Bytes pic = picture(8, 6, 0);
  const Bytes raw = vdstream::makePacket(pic.data(), pic.size(), 1234, Payload::Raw);
  ASSERT_EQ(raw.size(), 16 + pic.size());
  EXPECT_EQ(std::memcmp(raw.data(), "VDFR", 4), 0);
  EXPECT_EQ(readLe32(&raw[4]), pic.size());
  EXPECT_EQ(readLe32(&raw[8]), 1234u);
  EXPECT_EQ(readLe32(&raw[12]), 1u);
  EXPECT_TRUE(std::equal(pic.begin(), pic.end(), raw.begin() + 16));
  const Bytes zlib = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Zlib);
  EXPECT_EQ(readLe32(&zlib[4]), zlib.size() - 16);
  EXPECT_EQ(readLe32(&zlib[12]), 2u);

  StreamFormat f;
  ASSERT_EQ(parseFileHeader(h.data(), h.size(), f), 0u);
  EXPECT_EQ(minPoolBytes(f), vdstream::minPoolBytes(352, 288));
  EXPECT_NE(picture(352, 288, 0), picture(352, 288, 1));
}
