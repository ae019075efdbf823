#include "test_support.h"

namespace vdtest {

Bytes TestStream::allPackets() const {
  Bytes all;
  for (const Bytes& p : packets) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<std::uint32_t> TestStream::pictureSums() const {
  std::vector<std::uint32_t> sums;
  for (const Bytes& p : pictures) sums.push_back(checksum(p.data(), p.size()));
  return sums;
}

TestStream makeStream(std::uint32_t width, std::uint32_t height, std::uint32_t count,
                      Payload type, bool mixed, std::uint32_t fps) {
  TestStream s;
  s.width = width;
  s.height = height;
  s.header = vdstream::makeFileHeader(width, height, fps, 1);
  for (std::uint32_t i = 0; i < count; ++i) {
    Bytes picture(vdstream::pictureBytes(width, height));
    vdstream::fillTestPicture(picture.data(), width, height, i);
    const Payload t = mixed ? (i % 2 ? Payload::Zlib : Payload::Raw) : type;
    s.packets.push_back(vdstream::makePacket(picture.data(), picture.size(), i * 40, t));
    s.pictures.push_back(std::move(picture));
  }
  return s;
}

std::uint32_t checksum(const void* data, std::size_t size) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

std::vector<std::uint32_t> FrameLog::sumsCopy() {
  std::lock_guard<std::mutex> lk(mutex);
  return sums;
}

FrameLog& frameLog(int port) {
  // Never destroyed: made by the first callback, after the library's exit
  // handler, it would otherwise go before the display threads stop.
  static FrameLog* logs = new FrameLog[VDPLAY_MAX_PORTS];
  return logs[port];
}

void VDPLAY_CALL recordFrame(VdLong port, char* frame, VdLong size, VdLong width, VdLong height,
                             VdLong stamp, VdLong type, VdLong reserved) {
  FrameLog& log = frameLog(port);
  VdLong w = 0, h = 0;  // calling back into the library from the callback
  if (!VdPlay_GetPictureSize(port, &w, &h) || w != width || h != height ||
      size != width * height * 3 / 2 || type != VDPLAY_FRAME_I420 || reserved != 0)
    ++log.badCalls;
  {
    std::lock_guard<std::mutex> lk(log.mutex);
    log.sums.push_back(checksum(frame, static_cast<std::size_t>(size)));
    log.stamps.push_back(stamp);
  }
  ++log.count;
}

void VDPLAY_CALL countFrame(VdLong port, char*, VdLong, VdLong, VdLong, VdLong, VdLong, VdLong) {
  ++frameLog(port).count;
}

VdPlayStats stats(int port) {
  VdPlayStats s{};
  EXPECT_TRUE(VdPlayX_GetStats(port, &s));
  return s;
}

bool openStream(int port, TestStream& s, std::uint32_t poolPackets) {
  const auto pool = static_cast<VdDword>(vdstream::minPoolBytes(s.width, s.height) * poolPackets);
  return VdPlay_OpenStream(port, s.header.data(), static_cast<VdDword>(s.header.size()), pool);
}

bool feed(int port, const Bytes& data) {
  return VdPlay_InputData(port, const_cast<std::uint8_t*>(data.data()),
                          static_cast<VdDword>(data.size()));
}

void PortTest::TearDown() {
  for (int p = 0; p < VDPLAY_MAX_PORTS; ++p) {
    VdPlay_CloseStream(p);
    VdPlay_SetDisplayCallBack(p, nullptr);
    VdPlay_SetColor(p, 0, 64, 64, 64, 64);  // colour stays with the port across streams
    FrameLog& log = frameLog(p);
    std::lock_guard<std::mutex> lk(log.mutex);
    log.sums.clear();
    log.stamps.clear();
    log.count = 0;
    log.badCalls = 0;
  }
}

}  // namespace vdtest
