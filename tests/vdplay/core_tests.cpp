// The library's parts without threads: parser and decoder over the source
// ring, pacing arithmetic, colour adjustments, and the stream writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "VdStreamFormat.h"
#include "VdPlay.h"
#include "source/byte_ring.h"
#include "render/color.h"
#include "source/input_reader.h"
#include "source/packet_parser.h"
#include "playback/pacer.h"
#include "decode/adts_header.h"
#include "decode/raw_decoder.h"
#include "playback/playback_clock.h"
#include "source/stream_header.h"
#include "render/stretch.h"
#if VDPLAY_CODEC_MODULE
#include "decode/codec_module_loader.h"
#endif

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

// The frame of the unit at the front of the ring; empty when it is damaged.
Frame decodeUnit(const ByteRing& ring, const InputUnit& unit, RawDecoder& decoder) {
  Frame frame;
  if (!decoder.send(ring.view(unit.offset, unit.size), unit.type, unit.stampMs)) return frame;
  std::uint32_t damaged = 0;
  decoder.receive(frame, damaged);
  return frame;
}

// Reads, decodes and consumes every packet now in the ring.
void drain(ByteRing& ring, InputReader& reader, RawDecoder& decoder, std::size_t bytes,
           std::vector<Bytes>& out, std::uint32_t& damaged) {
  InputUnit unit;
  for (;;) {
    const auto r = reader.next(ring, unit);
    damaged += r.damaged;
    if (!r.found) return;
    const Frame frame = decodeUnit(ring, unit, decoder);
    if (frame) out.emplace_back(frame.pixels(), frame.pixels() + bytes);
    damaged += !frame;
    ring.consume(unit.totalSize);
  }
}

}  // namespace

TEST(PacketParser, EveryTwoWaySplitAndPlaceGivesTheSamePictures) {
  const StreamFormat f = formatOf(8, 6);
  Bytes data;
  std::vector<Bytes> pics;
  for (std::uint32_t i = 0; i < 3; ++i) {
    pics.push_back(picture(8, 6, i));
    vdstream::appendPacket(data, pics.back().data(), pics.back().size(), i,
                           i == 1 ? Payload::Zlib : Payload::Raw);
  }
  for (std::size_t split = 0; split <= data.size(); ++split) {
    // Where the data starts in storage moves with the split point, so that
    // magics, headers and payloads also wrap round the end.
    ByteRing ring;
    ASSERT_TRUE(ring.allocate(data.size() + 7));
    InputReader reader(f);
    RawDecoder decoder;
    ASSERT_TRUE(decoder.init(f));
    std::vector<Bytes> got;
    std::uint32_t damaged = 0;
    placeAt(ring, 1 + split % (data.size() + 6), Bytes(data.begin(), data.begin() + split));
    drain(ring, reader, decoder, f.pictureBytes, got, damaged);
    ring.write(data.data() + split, data.size() - split);
    drain(ring, reader, decoder, f.pictureBytes, got, damaged);
    ASSERT_EQ(got, pics) << "split at " << split;
    ASSERT_EQ(damaged, 0u) << "split at " << split;
  }
}

TEST(RawDecoder, RawAndZlibExactlyOnePictureThatOutlivesTheSourceBytes) {
  const StreamFormat f = formatOf(8, 6);
  RawDecoder decoder;
  ASSERT_TRUE(decoder.init(f));
  const Bytes pic = picture(8, 6, 1);
  ByteRing ring;
  ASSERT_TRUE(ring.allocate(minPoolBytes(f) * 2));
  const auto decodeAt = [&](const Bytes& packet, std::size_t at) -> bool {
    placeAt(ring, at, packet);
    InputReader reader(f);
    InputUnit unit;
    if (!reader.next(ring, unit).found) return false;
    const Frame out = decodeUnit(ring, unit, decoder);
    // The source bytes are let go and written over at once; the frame stays.
    ring.consume(unit.totalSize);
    const Bytes junk(ring.freeSpace(), 0xEE);
    ring.write(junk.data(), junk.size());
    if (out && std::memcmp(out.pixels(), pic.data(), pic.size()) != 0)
      ADD_FAILURE() << "wrong picture";
    return static_cast<bool>(out);
  };
  const Bytes raw = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Raw);
  const Bytes zlib = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Zlib);
  const std::size_t wrapping = ring.capacity() - 20;  // payload wraps 4 bytes in

  EXPECT_TRUE(decodeAt(raw, 1));
  EXPECT_TRUE(decodeAt(raw, wrapping));
  EXPECT_TRUE(decodeAt(zlib, wrapping));
  Bytes trailing = zlib;
  trailing.push_back(0);
  ++trailing[4];
  EXPECT_FALSE(decodeAt(trailing, 1));
  const Bytes smaller = picture(8, 4, 1), larger = picture(8, 8, 1);
  EXPECT_FALSE(decodeAt(vdstream::makePacket(smaller.data(), smaller.size(), 0, Payload::Zlib), 1));
  EXPECT_FALSE(decodeAt(vdstream::makePacket(larger.data(), larger.size(), 0, Payload::Zlib), 1));
}

TEST(Pacer, NoDriftWhenLateAndRestartWhenFarBehind) {
  Pacer pacer;
  pacer.setRate(30000, 1001);
  const auto t0 = Pacer::Clock::now();
  const auto seconds = [&](Pacer::Clock::time_point t) {
    return std::chrono::duration<double>(t - t0).count();
  };
  pacer.restart(t0);
  for (int i = 0; i < 3000; ++i) pacer.shown(pacer.due() + std::chrono::milliseconds(5));
  EXPECT_NEAR(seconds(pacer.due()), 3000 * 1001.0 / 30000.0, 1e-6);

  pacer.setRate(25, 1);
  pacer.restart(t0);
  pacer.shown(t0 + std::chrono::milliseconds(500));
  EXPECT_NEAR(seconds(pacer.due()), 0.54, 1e-6);  // one interval after the late frame
  pacer.setSpeed(2, t0);  // 100 frames/s, from the frame just shown
  EXPECT_NEAR(seconds(pacer.due()), 0.51, 1e-6);
  pacer.setSpeed(-4, t0);
  EXPECT_NEAR(pacer.intervalSeconds(), 0.64, 1e-12);
}

TEST(Color, AdjustmentsAndRegion) {
  const ColorAdjuster neutral(ColorSettings{}), turned(ColorSettings{128, 0, 64, 128});
  for (int y = 0; y < 256; ++y) ASSERT_EQ(neutral.luma(static_cast<std::uint8_t>(y)), y);
  for (int uv = 0; uv < 65536; uv += 97) {
    std::uint8_t u = static_cast<std::uint8_t>(uv >> 8), v = static_cast<std::uint8_t>(uv);
    neutral.chroma(u, v);
    ASSERT_EQ(u * 256 + v, uv);
  }
  std::uint8_t u = 200, v = 30;
  turned.chroma(u, v);  // hue half a turn mirrors the chroma round 128
  EXPECT_EQ(u * 256 + v, 56 * 256 + 226);
  EXPECT_EQ(turned.luma(20), 255);  // no contrast: mid grey; then +128 brightness, clamped

  const Bytes f = {81, 81, 41, 41, 81, 81, 41, 41, 90, 240, 240, 110};  // 4x2: red | blue
  std::uint32_t out[2];
  renderXrgb(f.data(), 4, 2, PixelRect{1, 1, 3, 2}, ColorSettings{}, out);
  EXPECT_EQ(out[0] & 0xF0F0F0, 0xF00000u);
  EXPECT_EQ(out[1] & 0xF0F0F0, 0x0000F0u);
  renderXrgb(f.data(), 4, 2, PixelRect{1, 1, 3, 2}, ColorSettings{64, 64, 0, 64}, out);
  EXPECT_EQ(out[0], (out[0] & 0xFF) * 0x010101u);  // no saturation: grey
}

TEST(Color, PictureToBgrGivesThePixelFormulaForEveryChromaPair) {
  // 512 x 512: the 2x2 block at (bx, by) has Cb = bx and Cr = by, so every
  // chroma pair appears, each with luma values spread over 0..255.
  const int w = 512, h = 512;
  Bytes f(w * h * 3 / 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f[y * w + x] = static_cast<std::uint8_t>(x * 13 + y * 7);
  for (int by = 0; by < h / 2; ++by) {
    for (int bx = 0; bx < w / 2; ++bx) {
      f[w * h + by * (w / 2) + bx] = static_cast<std::uint8_t>(bx);
      f[w * h * 5 / 4 + by * (w / 2) + bx] = static_cast<std::uint8_t>(by);
    }
  }
  // Bottom-up rows with 5 bytes between them, which must stay untouched.
  const std::size_t stride = w * 3 + 5;
  Bytes out(stride * h, 0xA5);
  ASSERT_TRUE(convertPictureBgr(f.data(), w, h, out.data() + (h - 1) * stride,
                                -static_cast<std::ptrdiff_t>(stride)));
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = out.data() + (h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      const Rgb p = yuvToRgb(f[y * w + x], f[w * h + (y / 2) * (w / 2) + x / 2],
                             f[w * h * 5 / 4 + (y / 2) * (w / 2) + x / 2]);
      ASSERT_EQ(row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2], p.b << 16 | p.g << 8 | p.r)
          << "at " << x << "," << y;
    }
    for (int i = 0; i < 5; ++i) ASSERT_EQ(row[w * 3 + i], 0xA5) << "row " << y;
  }
}

TEST(Stretch, NearestPixelsWhenMagnifyingAndReducing) {
  const std::uint32_t src[] = {1, 2, 3, 4, 5, 6};  // 3 x 2
  std::vector<std::uint32_t> big(7 * 4, 0);
  NearestStretch stretch;
  stretch.apply(src, 3, 2, big.data(), 6, 4, 7);  // stride wider than the row
  const std::vector<std::uint32_t> wantBig = {1, 1, 2, 2, 3, 3, 0,  //
                                              1, 1, 2, 2, 3, 3, 0,  //
                                              4, 4, 5, 5, 6, 6, 0,  //
                                              4, 4, 5, 5, 6, 6, 0};
  EXPECT_EQ(big, wantBig);

  // Same tables object, other sizes: three columns onto two, two rows onto one.
  std::uint32_t small[2] = {};
  stretch.apply(src, 3, 2, small, 2, 1, 2);
  // Column centres 0.75 and 2.25 of 3, row centre 1.0 of 2.
  EXPECT_EQ(small[0], 4u);
  EXPECT_EQ(small[1], 6u);

  // Uneven factors keep every source pixel within one of its share.
  std::vector<int> index;
  nearestIndices(5, 13, index);
  EXPECT_EQ(index.front(), 0);
  EXPECT_EQ(index.back(), 4);
  EXPECT_TRUE(std::is_sorted(index.begin(), index.end()));
  for (int i = 0; i < 5; ++i) {
    const auto n = std::count(index.begin(), index.end(), i);
    EXPECT_TRUE(n == 2 || n == 3) << i;
  }
}

// ADTS header of an AAC frame: profile (object type - 1), rate index,
// channels, frame length, no CRC.
std::vector<std::uint8_t> AdtsHeader(unsigned profile, unsigned rateIndex, unsigned channels,
                                     std::size_t frameBytes, bool crc = false) {
  return {0xFF, static_cast<std::uint8_t>(crc ? 0xF0 : 0xF1),
          static_cast<std::uint8_t>((profile << 6) | (rateIndex << 2) | (channels >> 2)),
          static_cast<std::uint8_t>(((channels & 3) << 6) | ((frameBytes >> 11) & 3)),
          static_cast<std::uint8_t>(frameBytes >> 3),
          static_cast<std::uint8_t>(((frameBytes & 7) << 5) | 0x1F), 0xFC};
}

TEST(AdtsHeader, FieldsAndTheAudioSpecificConfigAWindowsDecoderIsGiven) {
  std::vector<std::uint8_t> frame = AdtsHeader(1, 3, 2, 300);  // LC, 48 kHz, stereo
  frame.resize(300);
  vdplay::AdtsFrame f;
  ASSERT_TRUE(vdplay::readAdtsFrame(frame.data(), frame.size(), f));
  EXPECT_EQ(f.objectType, 2u);
  EXPECT_EQ(f.rate, 48000u);
  EXPECT_EQ(f.channels, 2u);
  EXPECT_EQ(f.headerBytes, 7u);
  EXPECT_EQ(f.frameBytes, 300u);
  EXPECT_EQ(f.rawBlocks, 1u);
  EXPECT_EQ(f.audioSpecificConfig(), (std::array<std::uint8_t, 2>{0x11, 0x90}));

  std::vector<std::uint8_t> mono = AdtsHeader(1, 4, 1, 20, true);  // LC, 44.1 kHz, mono, CRC
  mono.resize(20);
  ASSERT_TRUE(vdplay::readAdtsFrame(mono.data(), mono.size(), f));
  EXPECT_EQ(f.headerBytes, 9u);
  EXPECT_EQ(f.audioSpecificConfig(), (std::array<std::uint8_t, 2>{0x12, 0x08}));
  EXPECT_FALSE(f.sameConfig(vdplay::AdtsFrame{}));

  // Refused: a frame longer than the bytes, a reserved rate, no sync word,
  // a length shorter than the header.
  EXPECT_FALSE(vdplay::readAdtsFrame(frame.data(), 299, f));
  std::vector<std::uint8_t> reserved = AdtsHeader(1, 13, 2, 300);
  reserved.resize(300);
  EXPECT_FALSE(vdplay::readAdtsFrame(reserved.data(), reserved.size(), f));
  frame[1] = 0xE1;
  EXPECT_FALSE(vdplay::readAdtsFrame(frame.data(), frame.size(), f));
  std::vector<std::uint8_t> tiny = AdtsHeader(1, 3, 2, 7);
  EXPECT_FALSE(vdplay::readAdtsFrame(tiny.data(), tiny.size(), f));
}

TEST(StreamWriter, HeaderAndPacketLayout) {
  const Bytes h = vdstream::makeFileHeader(352, 288, 30000, 1001);
  ASSERT_EQ(h.size(), 40u);
  EXPECT_EQ(std::memcmp(h.data(), "VDPS\x01\x00\x28\x00", 8), 0);
  const std::uint32_t fields[] = {352, 288, 30000, 1001, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(readLe32(&h[8 + 4 * i]), fields[i]);
  EXPECT_TRUE(std::all_of(h.begin() + 28, h.end(), [](std::uint8_t b) { return b == 0; }));

  const Bytes pic = picture(8, 6, 0);
  const Bytes raw = vdstream::makePacket(pic.data(), pic.size(), 1234, Payload::Raw);
  ASSERT_EQ(raw.size(), 16 + pic.size());
  EXPECT_EQ(std::memcmp(raw.data(), "VDFR\x48\0\0\0\xD2\x04\0\0\x01\0\0\0", 16), 0);
  EXPECT_TRUE(std::equal(pic.begin(), pic.end(), raw.begin() + 16));
  const Bytes zlib = vdstream::makePacket(pic.data(), pic.size(), 0, Payload::Zlib);
  EXPECT_EQ(readLe32(&zlib[4]) * 10 + readLe32(&zlib[12]), (zlib.size() - 16) * 10 + 2);

  StreamFormat f;
  ASSERT_EQ(parseFileHeader(h.data(), h.size(), f), 0u);
  EXPECT_EQ(minPoolBytes(f), vdstream::minPoolBytes(352, 288));
}

TEST(StreamWriter, CodecHeaderAndAccessUnitPacket) {
  const Bytes h = vdstream::makeFileHeader(1920, 1080, 25, 1, vdstream::Codec::H265,
                                           vdstream::Framing::AnnexB);
  ASSERT_EQ(h.size(), 40u);
  EXPECT_EQ(readLe32(&h[24]), 1u);
  EXPECT_EQ(readLe32(&h[28]), 2u);
  EXPECT_EQ(readLe32(&h[32]), 1u);
  EXPECT_EQ(readLe32(&h[36]), 0u);
  EXPECT_LE(vdstream::minPoolBytes(1920, 1080, vdstream::Codec::H264), 512000u);
  EXPECT_EQ(vdstream::minPoolBytes(16, 16, vdstream::Codec::None), vdstream::minPoolBytes(16, 16));

  const std::uint8_t au[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00};
  const Bytes p = vdstream::makePacket(au, sizeof au, 40, Payload::H264);
  ASSERT_EQ(p.size(), 16 + sizeof au);
  EXPECT_EQ(readLe32(&p[4]), sizeof au);
  EXPECT_EQ(readLe32(&p[12]), 3u);
  EXPECT_EQ(std::memcmp(p.data() + 16, au, sizeof au), 0);
}

#if VDPLAY_CODEC_MODULE
// The failure paths only: loading the real module would load FFmpeg, which
// this program (run under valgrind too) keeps out; vdplay_codec_tests play
// through the real one.
TEST(CodecModuleLoader, WithoutAUsableModuleCompressedStreamsFailWith19) {
  const Bytes header = vdstream::makeFileHeader(352, 288, 25, 1, vdstream::Codec::H264);
  StreamFormat format;
  ASSERT_EQ(parseFileHeader(header.data(), header.size(), format), 0u);
  // No such file; a library that loads but has no factory.
  for (const char* file : {"/nonexistent/libvdplay_codecs.so", "libz.so.1"}) {
    const CodecModuleLoader loader({file});
    EXPECT_FALSE(loader.loaded()) << file;
    std::unique_ptr<PictureDecoder> decoder;
    EXPECT_EQ(loader.createDecoder(format, decoder), static_cast<std::uint32_t>(VDPLAY_ERR_DECODER_INIT))
        << file;
    EXPECT_EQ(decoder, nullptr);
  }
}

TEST(CodecModuleLoader, LooksBesideItsOwnFileFirstThenByPlainName) {
  const std::vector<std::string> files = codecModuleFiles();
  ASSERT_EQ(files.size(), 2u);
  // This program holds the loader itself, so its own folder comes first.
  const std::string name = "libvdplay_codecs.so";
  ASSERT_GT(files[0].size(), name.size());
  ASSERT_EQ(files[0].substr(files[0].size() - name.size() - 1), "/" + name);
  const std::string self = files[0].substr(0, files[0].size() - name.size()) + "vdplay_core_tests";
  EXPECT_TRUE(std::ifstream(self).good()) << self;
  EXPECT_EQ(files[1], "libvdplay_codecs.so");
}
#endif
