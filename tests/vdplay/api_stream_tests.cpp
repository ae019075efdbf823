// Opening streams, feeding data, decoding what was fed, arguments and error codes.
#include <cstdio>
#include <fstream>
#include <string>

#include "support/StandInPorts.h"
#include "support/Waiting.h"

using namespace sp_test;
using vdstream::Payload;

namespace {

class StreamTest : public PortTest {};

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// 0 if the header opens (the stream is closed again), else the error code.
VdDword tryOpen(Bytes header, VdDword length = 40, VdDword pool = 1 << 20) {
  if (!VdPlay_OpenStream(3, header.data(), length, pool)) return VdPlay_GetLastError(3);
  VdPlay_CloseStream(3);
  return 0;
}

bool failsWith(VdBool ok, VdLong port, VdDword code) {
  return !ok && VdPlay_GetLastError(port) == code;
}

}  // namespace

TEST_F(StreamTest, HeaderAndPoolRefusals) {
  struct Case {
    std::size_t at;
    std::uint32_t value;
    VdDword code;
  };
  const Case cases[] = {
      {0, 0x56445053u /* "SPDV" */, VDPLAY_ERR_UNRECOGNISED},
      {4, 0x00280002u /* version 2 */, VDPLAY_ERR_VERSION},
      {4, 0x002C0001u /* header size 44 */, VDPLAY_ERR_UNRECOGNISED},
      {8, 0, VDPLAY_ERR_UNRECOGNISED},       {8, 17, VDPLAY_ERR_UNRECOGNISED},
      {8, 4098, VDPLAY_ERR_UNRECOGNISED},    {12, 1u << 30, VDPLAY_ERR_UNRECOGNISED},
      {16, 0, VDPLAY_ERR_UNRECOGNISED},      {20, 0, VDPLAY_ERR_UNRECOGNISED},
      {16, 1001, VDPLAY_ERR_UNRECOGNISED},   {24, 2, VDPLAY_ERR_UNRECOGNISED},
  };
  const Bytes good = vdstream::makeFileHeader(16, 16, 25, 1);
  for (const Case& c : cases) {
    Bytes h = good;
    put32(h, c.at, c.value);
    EXPECT_EQ(tryOpen(h), c.code) << "field at " << c.at << " = " << c.value;
  }
  EXPECT_TRUE(failsWith(VdPlay_OpenStream(3, nullptr, 40, 1 << 20), 3, VDPLAY_ERR_NO_HEADER));
  EXPECT_EQ(tryOpen(good, 39), VDPLAY_ERR_NO_HEADER);
  EXPECT_EQ(tryOpen(vdstream::makeFileHeader(4096, 4096, 30000, 1001), 40,
                    static_cast<VdDword>(vdstream::minPoolBytes(4096, 4096))),
            0u);

  const auto minPool = static_cast<VdDword>(vdstream::minPoolBytes(16, 16));
  EXPECT_EQ(tryOpen(good, 40, 0), VDPLAY_ERR_BAD_ARGUMENT);
  EXPECT_EQ(tryOpen(good, 40, minPool - 1), VDPLAY_ERR_BAD_ARGUMENT);
  // Would be 6 (or succeed) if the library tried to allocate it.
  EXPECT_EQ(tryOpen(good, 40, 0xFFFFFFFFu), VDPLAY_ERR_BAD_ARGUMENT);
  Bytes h = good;
  ASSERT_TRUE(VdPlay_OpenStream(0, h.data(), 40, minPool));
  EXPECT_TRUE(failsWith(VdPlay_OpenStream(0, h.data(), 40, minPool), 0, VDPLAY_ERR_ORDER));
  VdLong w = 0, ht = 0;
  EXPECT_TRUE(VdPlay_GetPictureSize(0, &w, &ht));
  EXPECT_EQ(w * 10000 + ht, 16 * 10000 + 16);
  EXPECT_TRUE(failsWith(VdPlay_GetPictureSize(0, nullptr, &ht), 0, VDPLAY_ERR_BAD_ARGUMENT));
  VdRect inside{2, 2, 16, 16}, outside{0, 0, 17, 8}, empty{4, 4, 4, 8};
  EXPECT_TRUE(VdPlay_SetDisplayRegion(0, 0, &inside, nullptr, 1));
  for (VdRect* r : {&outside, &empty, static_cast<VdRect*>(nullptr)})
    EXPECT_TRUE(failsWith(VdPlay_SetDisplayRegion(0, 0, r, nullptr, 1), 0, VDPLAY_ERR_BAD_ARGUMENT));
}

// The codec headers open in vdplay_codec_tests: natively opening one loads
// the codec module and FFmpeg, which this program does not; on Windows it
// starts a Media Foundation decoder, where the system has one for the codec.
TEST_F(StreamTest, CodecHeadersAreCheckedBeforeAnyCodecIsLoaded) {
  using vdstream::Codec;
  using vdstream::Framing;
  const Bytes bad = vdstream::makeFileHeader(1920, 1080, 25, 1);
  for (const auto& field : {std::pair<std::size_t, std::uint32_t>{28, 3}, {32, 4}, {32, 1}}) {
    Bytes h = bad;  // codec 3, framing 4, and a bare stream of raw pictures
    put32(h, field.first, field.second);
    EXPECT_EQ(tryOpen(h, 40, 512000), VDPLAY_ERR_UNRECOGNISED) << field.first;
  }
  for (Codec codec : {Codec::H264, Codec::H265}) {
    for (Framing framing : {Framing::Packets, Framing::AnnexB}) {
      const Bytes h = vdstream::makeFileHeader(1920, 1080, 25, 1, codec, framing);
      EXPECT_EQ(tryOpen(h, 40, static_cast<VdDword>(vdstream::minPoolBytes(1920, 1080, codec)) - 1),
                VDPLAY_ERR_BAD_ARGUMENT);
#if defined(_WIN32)
      // Opens where the system has a decoder MFT for the codec, else 19.
      const std::uint32_t opened = tryOpen(h, 40, 512000);
      EXPECT_TRUE(opened == 0 || opened == VDPLAY_ERR_DECODER_INIT) << opened;
#endif
    }
  }
  // Program and transport streams that leave the codec to the stream open
  // at any picture size whose units fit the pool; the codec is loaded later.
  for (Framing framing : {Framing::ProgramStream, Framing::TransportStream}) {
    const Bytes h = vdstream::makeFileHeader(4096, 2304, 25, 1, Codec::None, framing);
    EXPECT_EQ(tryOpen(h, 40, 512000), 0u);
    EXPECT_EQ(tryOpen(h, 40, static_cast<VdDword>(vdstream::minPoolBytes(4096, 2304, Codec::H265)) - 1),
              VDPLAY_ERR_BAD_ARGUMENT);
  }
  // Raw and zlib streams keep their rule and work as before.
  EXPECT_EQ(tryOpen(vdstream::makeFileHeader(16, 16, 25, 1, Codec::None), 40,
                    static_cast<VdDword>(vdstream::minPoolBytes(16, 16))),
            0u);
}

TEST_F(StreamTest, BadPortsAndCallsOutOfOrder) {
  Bytes h = vdstream::makeFileHeader(16, 16, 25, 1);
  for (VdLong port : {-1, 32}) {
    EXPECT_FALSE(VdPlay_OpenStream(port, h.data(), 40, 1 << 20));
    EXPECT_FALSE(VdPlay_SetDisplayCallBack(port, RecordFrame));
    EXPECT_EQ(VdPlay_GetSourceBufferRemain(port), 0u);
    EXPECT_EQ(VdPlay_GetLastError(port), VDPLAY_ERR_BAD_ARGUMENT);
  }
  const VdDword order = VDPLAY_ERR_ORDER;
  EXPECT_TRUE(failsWith(VdPlay_InputData(1, h.data(), 16), 1, order));
  EXPECT_TRUE(failsWith(VdPlay_Play(1, nullptr), 1, order));
  EXPECT_TRUE(failsWith(VdPlay_RefreshPlay(1), 1, order));
  ASSERT_TRUE(VdPlay_OpenStream(1, h.data(), 40, 1 << 20));
  EXPECT_TRUE(failsWith(VdPlay_OneByOne(1), 1, order));  // needs the display thread
  EXPECT_TRUE(VdPlay_Stop(1));
  EXPECT_TRUE(VdPlay_SetDisplayCallBack(2, RecordFrame));  // any port, open or not
}

TEST_F(StreamTest, BufferTakesWholeBlocksOrRefusesThem) {
  TestStream s = MakeTestStream(16, 16, 1, Payload::Raw);
  ASSERT_TRUE(OpenTestStream(0, s, 1));  // room for exactly one packet of the largest payload
  const VdDword pool = static_cast<VdDword>(vdstream::minPoolBytes(16, 16));
  ASSERT_TRUE(Feed(0, Bytes(pool - 10, 0x55)));
  EXPECT_TRUE(failsWith(Feed(0, Bytes(11, 1)), 0, VDPLAY_ERR_BUFFER_FULL));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), pool - 10);  // nothing of it was taken
  EXPECT_TRUE(Feed(0, Bytes(10, 1)));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), pool);
  EXPECT_TRUE(failsWith(VdPlay_InputData(0, nullptr, 4), 0, VDPLAY_ERR_BAD_ARGUMENT));
  EXPECT_TRUE(VdPlay_ResetSourceBuffer(0));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
  EXPECT_TRUE(Feed(0, s.packets[0]));
}

TEST_F(StreamTest, ResetDropsAPartlyParsedPacket) {
  TestStream s = MakeTestStream({16, 16, 2, Payload::Raw, false, 1000, 40});
  ASSERT_TRUE(OpenTestStream(0, s));
  VdPlay_SetDisplayCallBack(0, RecordFrame);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  Feed(0, Bytes(s.packets[0].begin(), s.packets[0].begin() + 100));  // header and some payload
  SleepMs(20);
  ASSERT_TRUE(VdPlay_ResetSourceBuffer(0));
  Feed(0, s.packets[1]);
  ASSERT_TRUE(WaitFor([] { return FrameLogOf(0).count == 1; }));
  SleepMs(30);
  EXPECT_EQ(FrameLogOf(0).SumsCopy(), std::vector<std::uint32_t>{s.PictureSums()[1]});
  EXPECT_EQ(PortStats(0).packetsDamaged, 0u);
}

TEST_F(StreamTest, BytesFedOneAtATimeDecodeToTheSameFrames) {
  // Raw and zlib packets and a repeated file header, through a pool of two packets.
  TestStream s = MakeTestStream({16, 16, 6, Payload::Raw, true, 1000, 40});
  Bytes data = s.AllPackets();
  data.insert(data.begin() + static_cast<std::ptrdiff_t>(s.packets[0].size()), s.header.begin(),
              s.header.end());
  ASSERT_TRUE(OpenTestStream(0, s, 2));
  VdPlay_SetDisplayCallBack(0, RecordFrame);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  for (std::uint8_t& b : data) ASSERT_TRUE(WaitFor([&] { return VdPlay_InputData(0, &b, 1); }));
  ASSERT_TRUE(WaitFor([] { return FrameLogOf(0).count == 6; }));
  EXPECT_EQ(FrameLogOf(0).SumsCopy(), s.PictureSums());
  EXPECT_EQ(FrameLogOf(0).badCalls, 0);
  EXPECT_EQ(PortStats(0).packetsDamaged, 0u);
  std::lock_guard<std::mutex> lk(FrameLogOf(0).mutex);
  EXPECT_EQ(FrameLogOf(0).stamps, (std::vector<std::int32_t>{0, 40, 80, 120, 160, 200}));
}

TEST_F(StreamTest, DamagedPacketsAreCountedAndSkipped) {
  TestStream s = MakeTestStream({16, 16, 3, Payload::Zlib, false, 1000, 40});
  Bytes data = s.packets[0];
  const auto add = [&data](const Bytes& b) { data.insert(data.end(), b.begin(), b.end()); };
  add(Bytes{'j', 'u', 'n', 'k', 'V', 'D', '!'});  // junk, with a false start of a magic
  Bytes badSize = s.packets[1], badType = s.packets[1], badZlib = s.packets[1];
  put32(badSize, 4, 0x7FFFFFFF);
  put32(badType, 12, 9);
  badZlib[20] ^= 0xFF;
  add(badSize);
  add(badType);
  add(badZlib);
  add(vdstream::makePacket(s.pictures[1].data(), 100, 0, Payload::Raw));  // raw of wrong size
  add(s.packets[1]);
  add(s.packets[2]);

  ASSERT_TRUE(OpenTestStream(4, s));
  VdPlay_SetDisplayCallBack(4, RecordFrame);
  ASSERT_TRUE(VdPlay_Play(4, nullptr));
  ASSERT_TRUE(Feed(4, data));
  ASSERT_TRUE(WaitFor([] { return FrameLogOf(4).count == 3; }));
  SleepMs(20);
  EXPECT_EQ(FrameLogOf(4).SumsCopy(), s.PictureSums());
  const VdPlayStats st = PortStats(4);
  EXPECT_EQ(st.packetsDamaged, 5u);
  EXPECT_EQ(st.bytesWaiting, 0u);
  EXPECT_EQ(VdPlay_GetLastError(4), VDPLAY_ERR_DECODE);
}

TEST_F(StreamTest, ConversionFailuresReachEveryPortUntilNewerOwnFailures) {
  VdPlay_SetVolume(5, 70000);  // port 5: 1
  VdPlay_Stop(6);              // port 6: 2
  char frame[24] = {};
  ASSERT_FALSE(VdPLay_ConvertToBmpFile(frame, 24, 4, 4, VDPLAY_FRAME_I420,
                                       const_cast<char*>("no-such-dir/x/y.bmp")));
  EXPECT_EQ(VdPlay_GetLastError(5), VDPLAY_ERR_FILE);
  EXPECT_EQ(VdPlay_GetLastError(6), VDPLAY_ERR_FILE);
  VdPlay_Stop(6);
  EXPECT_EQ(VdPlay_GetLastError(6), VDPLAY_ERR_ORDER);
  EXPECT_EQ(VdPlay_GetLastError(5), VDPLAY_ERR_FILE);
  EXPECT_TRUE(VdPlay_SetVolume(6, 5));  // success leaves the last failure
  EXPECT_EQ(VdPlay_GetLastError(6), VDPLAY_ERR_ORDER);
}

TEST_F(StreamTest, BmpLayoutAndKnownColours) {
  // 6 x 4: the top 2x2 blocks red, green, blue, the bottom half black. Rows
  // of 18 bytes are padded to 20; the bottom row comes first.
  const int w = 6, h = 4;
  Bytes f(w * h * 3 / 2, 128);
  const std::uint8_t Y[3] = {81, 145, 41}, U[3] = {90, 54, 240}, V[3] = {240, 34, 110};
  for (int x = 0; x < w; ++x) {
    f[x] = f[w + x] = Y[x / 2];
    f[2 * w + x] = f[3 * w + x] = 16;
  }
  for (int b = 0; b < 3; ++b) {
    f[w * h + b] = U[b];
    f[w * h + 6 + b] = V[b];
  }
  char path[] = "vdplay_test_colours.bmp";
  char* frame = reinterpret_cast<char*>(f.data());
  const VdLong size = static_cast<VdLong>(f.size()), i420 = VDPLAY_FRAME_I420;
  const VdDword bad = VDPLAY_ERR_BAD_ARGUMENT;
  EXPECT_TRUE(failsWith(VdPLay_ConvertToBmpFile(frame, size, w, h, 1, path), 0, bad));
  EXPECT_TRUE(failsWith(VdPLay_ConvertToBmpFile(frame, size - 1, w, h, i420, path), 0, bad));
  EXPECT_TRUE(failsWith(VdPLay_ConvertToBmpFile(frame, 18, 3, 4, i420, path), 0, bad));
  EXPECT_TRUE(failsWith(VdPLay_ConvertToBmpFile(frame, size, w, h, i420, nullptr), 0, bad));
  EXPECT_FALSE(std::ifstream(path).good());
  ASSERT_TRUE(VdPLay_ConvertToBmpFile(frame, size, w, h, i420, path));
  std::ifstream in(path, std::ios::binary);
  const Bytes bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::remove(path);
  ASSERT_EQ(bmp.size(), 54u + 4 * 20);
  const auto le32 = [&bmp](std::size_t at) {
    return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24;
  };
  EXPECT_EQ(bmp[0] * 256 + bmp[1], 'B' * 256 + 'M');
  const int fields[][2] = {{2, 134}, {10, 54}, {14, 40}, {18, 6}, {22, 4}, {30, 0}, {34, 80}};
  for (const auto& fv : fields) EXPECT_EQ(le32(fv[0]), fv[1]) << "at " << fv[0];
  EXPECT_EQ(bmp[26] + bmp[28] * 256, 1 + 24 * 256);  // planes, bits per pixel
  for (int i = 0; i < 40; ++i) EXPECT_EQ(bmp[54 + i], 0) << i;  // two black rows, padding
  const int rgb[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  for (int row = 2; row < 4; ++row) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c)  // stored B, G, R
        EXPECT_NEAR(bmp[54 + row * 20 + x * 3 + 2 - c], rgb[x / 2][c], 2) << x << "," << c;
    }
  }
}

TEST_F(StreamTest, BmpReplacesAnExistingFileWhateverItsSize) {
  const int w = 6, h = 4;
  Bytes f(w * h * 3 / 2);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 37);
  char path[] = "vdplay_test_replace.bmp";
  const auto convert = [&] {
    return VdPLay_ConvertToBmpFile(reinterpret_cast<char*>(f.data()), static_cast<VdLong>(f.size()),
                                   w, h, VDPLAY_FRAME_I420, path);
  };
  const auto read = [&] {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::remove(path);
  ASSERT_TRUE(convert());
  const Bytes fresh = read();
  ASSERT_EQ(fresh.size(), 54u + 4 * 20);
  // Larger, the same size (written over in place), smaller.
  for (const std::size_t oldSize : {fresh.size() + 100, fresh.size(), std::size_t{10}}) {
    std::ofstream(path, std::ios::binary) << std::string(oldSize, '\xEE');
    ASSERT_TRUE(convert()) << oldSize;
    EXPECT_EQ(read(), fresh) << "over a file of " << oldSize << " bytes";
  }
  std::remove(path);
}
