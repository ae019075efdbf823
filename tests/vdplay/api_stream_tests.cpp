// Opening streams, feeding data, decoding what was fed, arguments and error codes.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "test_support.h"

using namespace vdtest;

namespace {

class StreamTest : public PortTest {};

Bytes validHeader() { return vdstream::makeFileHeader(16, 16, 25, 1); }

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

VdDword tryOpen(int port, Bytes header, VdDword length, VdDword pool = 1 << 20) {
  if (VdPlay_OpenStream(port, header.data(), length, pool)) {
    VdPlay_CloseStream(port);
    return 0;
  }
  return VdPlay_GetLastError(port);
}

}  // namespace

TEST_F(StreamTest, HeaderRefusalsGiveTheirCodes) {
  struct Case {
    const char* what;
    std::size_t at;  // byte to change
    std::uint32_t value;
    int width;  // 4 or 2 bytes
    VdDword code;
  };
  const Case cases[] = {
      {"magic", 0, 0x56445053u /* "SPDV" */, 4, VDPLAY_ERR_UNRECOGNISED},
      {"version", 4, 2, 2, VDPLAY_ERR_VERSION},
      {"header size", 6, 44, 2, VDPLAY_ERR_UNRECOGNISED},
      {"zero width", 8, 0, 4, VDPLAY_ERR_UNRECOGNISED},
      {"odd width", 8, 17, 4, VDPLAY_ERR_UNRECOGNISED},
      {"huge width", 8, 4098, 4, VDPLAY_ERR_UNRECOGNISED},
      {"huge height", 12, 0x40000000u, 4, VDPLAY_ERR_UNRECOGNISED},
      {"zero rate", 16, 0, 4, VDPLAY_ERR_UNRECOGNISED},
      {"zero denominator", 20, 0, 4, VDPLAY_ERR_UNRECOGNISED},
      {"1001 frames/s", 16, 1001, 4, VDPLAY_ERR_UNRECOGNISED},
      {"pixel format", 24, 2, 4, VDPLAY_ERR_UNRECOGNISED},
  };
  for (const Case& c : cases) {
    Bytes h = validHeader();
    if (c.width == 4) {
      put32(h, c.at, c.value);
    } else {
      h[c.at] = static_cast<std::uint8_t>(c.value);
      h[c.at + 1] = static_cast<std::uint8_t>(c.value >> 8);
    }
    EXPECT_EQ(tryOpen(3, h, 40), c.code) << c.what;
    EXPECT_EQ(stats(3).streamOpen, 0u) << c.what;
  }
  EXPECT_FALSE(VdPlay_OpenStream(3, nullptr, 40, 1 << 20));
  EXPECT_EQ(VdPlay_GetLastError(3), VDPLAY_ERR_NO_HEADER);
  EXPECT_EQ(tryOpen(3, validHeader(), 39), VDPLAY_ERR_NO_HEADER);
  EXPECT_EQ(tryOpen(3, validHeader(), 40), 0u);
  EXPECT_EQ(tryOpen(3, vdstream::makeFileHeader(4096, 4096, 30000, 1001), 40,
                    static_cast<VdDword>(vdstream::minPoolBytes(4096, 4096))),
            0u);
}

TEST_F(StreamTest, PoolSizeLimitsAndSecondOpen) {
  Bytes h = validHeader();
  const auto minPool = static_cast<VdDword>(vdstream::minPoolBytes(16, 16));
  EXPECT_EQ(tryOpen(0, h, 40, 0), VDPLAY_ERR_BAD_ARGUMENT);
  EXPECT_EQ(tryOpen(0, h, 40, minPool - 1), VDPLAY_ERR_BAD_ARGUMENT);
  EXPECT_EQ(tryOpen(0, h, 40, VDPLAY_MAX_POOL_BYTES + 1), VDPLAY_ERR_BAD_ARGUMENT);
  // Would be 6 (or succeed) if the library tried to allocate it.
  EXPECT_EQ(tryOpen(0, h, 40, 0xFFFFFFFFu), VDPLAY_ERR_BAD_ARGUMENT);
  ASSERT_TRUE(VdPlay_OpenStream(0, h.data(), 40, minPool));
  EXPECT_FALSE(VdPlay_OpenStream(0, h.data(), 40, minPool));
  EXPECT_EQ(VdPlay_GetLastError(0), VDPLAY_ERR_ORDER);
  VdLong w = 0, ht = 0;
  EXPECT_TRUE(VdPlay_GetPictureSize(0, &w, &ht));
  EXPECT_EQ(w, 16);
  EXPECT_EQ(ht, 16);
  EXPECT_FALSE(VdPlay_GetPictureSize(0, nullptr, &ht));
  EXPECT_EQ(VdPlay_GetLastError(0), VDPLAY_ERR_BAD_ARGUMENT);
}

TEST_F(StreamTest, BadPortsFailAndNeverCrash) {
  for (VdLong port : {-1, 32, 1 << 30}) {
    Bytes h = validHeader();
    EXPECT_FALSE(VdPlay_OpenStream(port, h.data(), 40, 1 << 20));
    EXPECT_FALSE(VdPlay_InputData(port, h.data(), 40));
    EXPECT_FALSE(VdPlay_Play(port, nullptr));
    EXPECT_FALSE(VdPlay_SetDisplayCallBack(port, recordFrame));
    EXPECT_FALSE(VdPlay_SetVolume(port, 1));
    EXPECT_FALSE(VdPlay_PlaySound(port));
    EXPECT_EQ(VdPlay_GetSourceBufferRemain(port), 0u);
    EXPECT_EQ(VdPlay_GetLastError(port), VDPLAY_ERR_BAD_ARGUMENT);
  }
}

TEST_F(StreamTest, CallsOutOfOrder) {
  VdLong w, h;
  VdRect r{0, 0, 8, 8};
  Bytes data(16);
  const auto order = [](VdBool ok) { return !ok && VdPlay_GetLastError(1) == VDPLAY_ERR_ORDER; };
  EXPECT_TRUE(order(VdPlay_InputData(1, data.data(), 16)));
  EXPECT_TRUE(order(VdPlay_Play(1, nullptr)));
  EXPECT_TRUE(order(VdPlay_Stop(1)));
  EXPECT_TRUE(order(VdPlay_CloseStream(1)));
  EXPECT_TRUE(order(VdPlay_ResetSourceBuffer(1)));
  EXPECT_TRUE(order(VdPlay_RefreshPlay(1)));
  EXPECT_TRUE(order(VdPlay_GetPictureSize(1, &w, &h)));
  EXPECT_TRUE(order(VdPlay_SetDisplayRegion(1, 0, &r, nullptr, 1)));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(1), 0u);
  // Open but not playing: the playback controls need the display thread.
  TestStream s = makeStream(16, 16, 1, Payload::Raw);
  ASSERT_TRUE(openStream(1, s));
  EXPECT_TRUE(order(VdPlay_Pause(1, 1)));
  EXPECT_TRUE(order(VdPlay_Fast(1)));
  EXPECT_TRUE(order(VdPlay_Slow(1)));
  EXPECT_TRUE(order(VdPlay_OneByOne(1)));
  EXPECT_TRUE(VdPlay_Stop(1));
  EXPECT_TRUE(VdPlay_RefreshPlay(1));
  EXPECT_TRUE(VdPlay_SetDisplayCallBack(2, recordFrame));  // any port, open or not
}

TEST_F(StreamTest, SettingsAreValidated) {
  EXPECT_TRUE(VdPlay_SetVolume(0, 65535));
  EXPECT_FALSE(VdPlay_SetVolume(0, 65536));
  EXPECT_TRUE(VdPlay_ThrowBFrameNum(0, 2));
  EXPECT_FALSE(VdPlay_ThrowBFrameNum(0, 3));
  EXPECT_TRUE(VdPlay_SetOverlayMode(0, 1, 0x00FFFFFF));
  EXPECT_FALSE(VdPlay_SetOverlayMode(0, 1, 0x01000000));
  EXPECT_TRUE(VdPlay_SetStreamOpenMode(0, 1));
  EXPECT_FALSE(VdPlay_SetStreamOpenMode(0, 2));
  EXPECT_TRUE(VdPlay_SetPicQuality(0, 7));
  EXPECT_TRUE(VdPlay_PlaySound(0));
  EXPECT_TRUE(VdPlay_StopSound());
  EXPECT_TRUE(VdPlay_SetColor(0, 0, 0, 128, 64, 127));
  EXPECT_FALSE(VdPlay_SetColor(0, 1, 64, 64, 64, 64));
  EXPECT_FALSE(VdPlay_SetColor(0, 0, -1, 64, 64, 64));
  EXPECT_FALSE(VdPlay_SetColor(0, 0, 64, 64, 129, 64));
  EXPECT_EQ(VdPlay_GetLastError(0), VDPLAY_ERR_BAD_ARGUMENT);
  EXPECT_EQ(VdPlay_GetFileHeadLength(), 40u);

  TestStream s = makeStream(16, 8, 1, Payload::Raw);
  ASSERT_TRUE(openStream(0, s));
  VdRect inside{2, 2, 16, 8}, outside{0, 0, 17, 8}, empty{4, 4, 4, 8}, negative{-1, 0, 4, 4};
  EXPECT_TRUE(VdPlay_SetDisplayRegion(0, 0, &inside, nullptr, 1));
  EXPECT_FALSE(VdPlay_SetDisplayRegion(0, 0, &outside, nullptr, 1));
  EXPECT_FALSE(VdPlay_SetDisplayRegion(0, 0, &empty, nullptr, 1));
  EXPECT_FALSE(VdPlay_SetDisplayRegion(0, 0, &negative, nullptr, 1));
  EXPECT_FALSE(VdPlay_SetDisplayRegion(0, 0, nullptr, nullptr, 1));
  EXPECT_FALSE(VdPlay_SetDisplayRegion(0, 1, &inside, nullptr, 1));
  EXPECT_TRUE(VdPlay_SetDisplayRegion(0, 0, nullptr, nullptr, 0));
}

TEST_F(StreamTest, BufferTakesWholeBlocksOrRefusesThem) {
  TestStream s = makeStream(16, 16, 1, Payload::Raw);
  ASSERT_TRUE(openStream(0, s, 1));  // room for exactly one packet of the largest payload
  const VdDword pool = static_cast<VdDword>(vdstream::minPoolBytes(16, 16));
  Bytes block(pool - 10, 0x55);
  ASSERT_TRUE(feed(0, block));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), pool - 10);
  EXPECT_FALSE(feed(0, Bytes(11, 1)));
  EXPECT_EQ(VdPlay_GetLastError(0), VDPLAY_ERR_BUFFER_FULL);
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), pool - 10);  // nothing of it was taken
  EXPECT_TRUE(feed(0, Bytes(10, 1)));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), pool);
  EXPECT_FALSE(VdPlay_InputData(0, nullptr, 4));
  EXPECT_EQ(VdPlay_GetLastError(0), VDPLAY_ERR_BAD_ARGUMENT);
  EXPECT_TRUE(VdPlay_ResetSourceBuffer(0));
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
  EXPECT_TRUE(feed(0, s.packets[0]));
  VdPlay_CloseStream(0);
  EXPECT_EQ(VdPlay_GetSourceBufferRemain(0), 0u);
}

TEST_F(StreamTest, ResetDropsAPartlyParsedPacket) {
  TestStream s = makeStream(16, 16, 2, Payload::Raw, false, 1000);
  ASSERT_TRUE(openStream(0, s));
  VdPlay_SetDisplayCallBack(0, recordFrame);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  feed(0, Bytes(s.packets[0].begin(), s.packets[0].begin() + 100));  // header and some payload
  sleepMs(20);
  ASSERT_TRUE(VdPlay_ResetSourceBuffer(0));
  feed(0, s.packets[1]);
  ASSERT_TRUE(waitFor([] { return frameLog(0).count == 1; }));
  sleepMs(30);
  EXPECT_EQ(frameLog(0).sumsCopy(), std::vector<std::uint32_t>{s.pictureSums()[1]});
  EXPECT_EQ(stats(0).packetsDamaged, 0u);
}

TEST_F(StreamTest, BytesFedOneAtATimeDecodeToTheSameFrames) {
  // Raw and zlib packets and a repeated file header, through a pool of two
  // packets.
  TestStream s = makeStream(16, 16, 6, Payload::Raw, true, 1000);
  Bytes data = s.allPackets();
  data.insert(data.begin() + static_cast<std::ptrdiff_t>(s.packets[0].size()), s.header.begin(),
              s.header.end());
  ASSERT_TRUE(openStream(0, s, 2));
  VdPlay_SetDisplayCallBack(0, recordFrame);
  ASSERT_TRUE(VdPlay_Play(0, nullptr));
  for (std::uint8_t& b : data) {
    ASSERT_TRUE(waitFor([&] { return VdPlay_InputData(0, &b, 1) != 0; }));
  }
  ASSERT_TRUE(waitFor([] { return frameLog(0).count == 6; }));
  EXPECT_EQ(frameLog(0).sumsCopy(), s.pictureSums());
  EXPECT_EQ(frameLog(0).badCalls, 0);
  EXPECT_EQ(stats(0).packetsDamaged, 0u);
  EXPECT_EQ(stats(0).framesDecoded, 6u);
  std::lock_guard<std::mutex> lk(frameLog(0).mutex);
  EXPECT_EQ(frameLog(0).stamps, (std::vector<std::int32_t>{0, 40, 80, 120, 160, 200}));
}

TEST_F(StreamTest, DamagedPacketsAreCountedAndSkipped) {
  TestStream s = makeStream(16, 16, 3, Payload::Zlib, false, 1000);
  Bytes data = s.packets[0];
  const auto add = [&data](const Bytes& b) { data.insert(data.end(), b.begin(), b.end()); };
  add(Bytes{'j', 'u', 'n', 'k', 'V', 'D', '!'});  // junk, with a false start of a magic
  Bytes badSize = s.packets[1];
  put32(badSize, 4, 0x7FFFFFFF);
  add(badSize);
  Bytes badType = s.packets[1];
  put32(badType, 12, 9);
  add(badType);
  Bytes badZlib = s.packets[1];
  badZlib[20] ^= 0xFF;
  add(badZlib);
  Bytes shortRaw = vdstream::makePacket(s.pictures[1].data(), 100, 0, Payload::Raw);
  add(shortRaw);
  add(s.packets[1]);
  add(s.packets[2]);

  ASSERT_TRUE(openStream(4, s));
  VdPlay_SetDisplayCallBack(4, recordFrame);
  ASSERT_TRUE(VdPlay_Play(4, nullptr));
  ASSERT_TRUE(feed(4, data));
  ASSERT_TRUE(waitFor([] { return frameLog(4).count == 3; }));
  sleepMs(20);
  EXPECT_EQ(frameLog(4).sumsCopy(), s.pictureSums());
  const VdPlayStats st = stats(4);
  EXPECT_EQ(st.packetsDamaged, 5u);
  EXPECT_EQ(st.framesDisplayed, 3u);
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

// ------------------------------------------------------------------ BMP

namespace {

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

TEST_F(StreamTest, BmpOfKnownColours) {
  // 6 x 4 picture: the top 2x2 blocks red, green, blue; the bottom half
  // black. Rows of 18 bytes are padded to 20; the bottom row comes first.
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
  const std::string path = "vdplay_test_colours.bmp";
  ASSERT_TRUE(VdPLay_ConvertToBmpFile(reinterpret_cast<char*>(f.data()),
                                      static_cast<VdLong>(f.size()), w, h, VDPLAY_FRAME_I420,
                                      const_cast<char*>(path.c_str())));
  const Bytes bmp = readFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(bmp.size(), 54u + 4 * 20);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(le32(bmp, 2), bmp.size());
  EXPECT_EQ(le32(bmp, 10), 54u);
  EXPECT_EQ(le32(bmp, 14), 40u);
  EXPECT_EQ(le32(bmp, 18), 6u);
  EXPECT_EQ(le32(bmp, 22), 4u);  // positive height: bottom-up
  EXPECT_EQ(bmp[28], 24);
  EXPECT_EQ(le32(bmp, 30), 0u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(bmp[54 + i], 0) << i;  // two black rows, padding
  const int expected[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};  // R, G, B
  for (int row = 2; row < 4; ++row) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* px = &bmp[54 + row * 20 + x * 3];  // B, G, R
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(px[2 - c], expected[x / 2][c], 2) << "pixel " << x << " channel " << c;
    }
    EXPECT_EQ(bmp[54 + row * 20 + 18], 0);
  }
}

TEST_F(StreamTest, BmpRefusals) {
  Bytes f(16 * 16 * 3 / 2, 128);
  char* frame = reinterpret_cast<char*>(f.data());
  char path[] = "vdplay_test_refused.bmp";
  const VdLong size = static_cast<VdLong>(f.size());
  const auto refused = [](VdBool ok) {
    return !ok && VdPlay_GetLastError(0) == VDPLAY_ERR_BAD_ARGUMENT;
  };
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(nullptr, size, 16, 16, VDPLAY_FRAME_I420, path)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, size, 16, 16, VDPLAY_FRAME_I420, nullptr)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, size, 16, 16, 1, path)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, size - 1, 16, 16, VDPLAY_FRAME_I420, path)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, size, 15, 16, VDPLAY_FRAME_I420, path)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, 0, 0, 0, VDPLAY_FRAME_I420, path)));
  EXPECT_TRUE(refused(VdPLay_ConvertToBmpFile(frame, size, -16, -16, VDPLAY_FRAME_I420, path)));
  EXPECT_FALSE(std::ifstream(path).good());
}
