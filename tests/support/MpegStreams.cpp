#include "support/MpegStreams.h"

#include <algorithm>

namespace sp_test {
namespace {

constexpr std::size_t kTsPacket = 188;
constexpr std::size_t kMaxPesPayload = 65000;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutCrc(Bytes& out, std::size_t from) {
  const std::uint32_t crc = Crc32(out.data() + from, out.size() - from);
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(crc >> shift));
}

void PutTimestamp(Bytes& out, std::uint8_t prefix, std::uint64_t ts) {
  ts &= (std::uint64_t{1} << 33) - 1;
  out.push_back(static_cast<std::uint8_t>(prefix << 4 | ((ts >> 29) & 0x0E) | 1));
  Put16(out, static_cast<std::uint32_t>(((ts >> 14) & 0xFFFE) | 1));
  Put16(out, static_cast<std::uint32_t>(((ts << 1) & 0xFFFE) | 1));
}

// One PES packet; length 0 (unbounded) when bounded is false.
Bytes PesPacket(std::uint8_t streamId, const std::uint8_t* data, std::size_t n, bool withPts,
                std::uint64_t pts, bool bounded) {
  Bytes pes = {0,
               0,
               1,
               streamId,
               0,
               0,
               0x80,
               static_cast<std::uint8_t>(withPts ? 0x80 : 0),
               static_cast<std::uint8_t>(withPts ? 5 : 0)};
  if (withPts) PutTimestamp(pes, 0x2, pts);
  pes.insert(pes.end(), data, data + n);
  const std::size_t length = pes.size() - 6;
  if (bounded || length <= 0xFFFF) {
    pes[4] = static_cast<std::uint8_t>(length >> 8);
    pes[5] = static_cast<std::uint8_t>(length);
  }
  if (!bounded) pes[4] = pes[5] = 0;
  return pes;
}

void PackHeader(Bytes& out, std::uint64_t scr) {
  scr &= (std::uint64_t{1} << 33) - 1;
  const Bytes head = {0,
                      0,
                      1,
                      0xBA,
                      static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
                      static_cast<std::uint8_t>(scr >> 20),
                      static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
                      static_cast<std::uint8_t>(scr >> 5),
                      static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 0x04),
                      0x01,
                      0x01,
                      0x89,
                      0xC3,
                      0xF8};  // mux rate, no stuffing
  out.insert(out.end(), head.begin(), head.end());
}

void StreamMap(Bytes& out, const MpegStreamOptions& o) {
  const std::size_t from = out.size();
  Bytes map = {0,
               0,
               1,
               0xBC,
               0,
               0,
               static_cast<std::uint8_t>(0x80 | (o.mapVersion & 0x1F)),
               0x01,
               0,
               0,  // program info
               0,
               8,  // two streams of four bytes
               o.videoType,
               0xE0,
               0,
               0,
               o.audioType,
               0xC0,
               0,
               0};
  const std::size_t length = map.size() - 6 + 4;
  map[4] = static_cast<std::uint8_t>(length >> 8);
  map[5] = static_cast<std::uint8_t>(length);
  out.insert(out.end(), map.begin(), map.end());
  PutCrc(out, from);
}

// Splits a PES packet into TS packets; the last one is filled up with
// adaptation-field stuffing, as multiplexers do.
void Packetize(Bytes& out, std::uint16_t pid, std::uint8_t& counter, const Bytes& pes) {
  for (std::size_t at = 0; at < pes.size();) {
    const std::size_t left = pes.size() - at;
    Bytes p = {0x47, static_cast<std::uint8_t>((at == 0 ? 0x40 : 0) | (pid >> 8)),
               static_cast<std::uint8_t>(pid), 0};
    std::size_t room = kTsPacket - 4;
    if (left < room) {
      const std::size_t fieldLength = room - left - 1;  // adaptation_field_length
      p[3] = static_cast<std::uint8_t>(0x30 | (counter & 0x0F));
      p.push_back(static_cast<std::uint8_t>(fieldLength));
      if (fieldLength > 0) {
        p.push_back(0x00);  // no flags
        p.insert(p.end(), fieldLength - 1, 0xFF);
      }
      room = left;
    } else {
      p[3] = static_cast<std::uint8_t>(0x10 | (counter & 0x0F));
    }
    p.insert(p.end(), pes.begin() + static_cast<std::ptrdiff_t>(at),
             pes.begin() + static_cast<std::ptrdiff_t>(at + room));
    counter = static_cast<std::uint8_t>((counter + 1) & 0x0F);
    at += room;
    out.insert(out.end(), p.begin(), p.end());
  }
}

void SectionPacket(Bytes& out, std::uint16_t pid, std::uint8_t& counter, const Bytes& section) {
  Bytes p = {0x47, static_cast<std::uint8_t>(0x40 | (pid >> 8)), static_cast<std::uint8_t>(pid),
             static_cast<std::uint8_t>(0x10 | (counter & 0x0F)), 0x00};
  p.insert(p.end(), section.begin(), section.end());
  p.resize(kTsPacket, 0xFF);
  counter = static_cast<std::uint8_t>((counter + 1) & 0x0F);
  out.insert(out.end(), p.begin(), p.end());
}

Bytes Pat(const MpegStreamOptions& o) {
  Bytes s = {0x00,
             0xB0,
             13,
             0x00,
             0x01,
             0xC1,
             0,
             0,
             0x00,
             0x01,
             static_cast<std::uint8_t>(0xE0 | (o.pmtPid >> 8)),
             static_cast<std::uint8_t>(o.pmtPid)};
  PutCrc(s, 0);
  return s;
}

Bytes Pmt(const MpegStreamOptions& o) {
  Bytes s = {0x02,
             0xB0,
             0,
             0x00,
             0x01,
             static_cast<std::uint8_t>(0xC1 | (o.mapVersion & 0x1F) << 1),
             0,
             0,
             static_cast<std::uint8_t>(0xE0 | (o.videoPid >> 8)),
             static_cast<std::uint8_t>(o.videoPid),
             0xF0,
             0,
             o.videoType,
             static_cast<std::uint8_t>(0xE0 | (o.videoPid >> 8)),
             static_cast<std::uint8_t>(o.videoPid),
             0xF0,
             0,
             o.audioType,
             static_cast<std::uint8_t>(0xE0 | (o.audioPid >> 8)),
             static_cast<std::uint8_t>(o.audioPid),
             0xF0,
             0};
  s[2] = static_cast<std::uint8_t>(s.size() - 3 + 4);
  PutCrc(s, 0);
  return s;
}

}  // namespace

Bytes WriteProgramStream(const std::vector<MpegUnit>& units, const MpegStreamOptions& o) {
  Bytes out;
  bool first = true;
  for (const MpegUnit& u : units) {
    PackHeader(out, u.pts);
    if (o.withMap && u.video && (first || u.key)) StreamMap(out, o);
    first = false;
    const std::uint8_t id = u.video ? 0xE0 : 0xC0;
    for (std::size_t at = 0; at < u.data.size() || at == 0; at += kMaxPesPayload) {
      const std::size_t n = std::min(kMaxPesPayload, u.data.size() - at);
      const Bytes pes = PesPacket(id, u.data.data() + at, n, at == 0, u.pts, true);
      out.insert(out.end(), pes.begin(), pes.end());
      if (u.data.empty()) break;
    }
  }
  out.insert(out.end(), {0, 0, 1, 0xB9});
  return out;
}

Bytes WriteTransportStream(const std::vector<MpegUnit>& units, const MpegStreamOptions& o,
                           TsCounters& c) {
  Bytes out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const MpegUnit& u = units[i];
    if (i % 10 == 0) {
      SectionPacket(out, 0, c.pat, Pat(o));
      SectionPacket(out, o.pmtPid, c.pmt, Pmt(o));
    }
    const Bytes pes =
        PesPacket(u.video ? 0xE0 : 0xC0, u.data.data(), u.data.size(), true, u.pts, !u.video);
    if (u.video) {
      Packetize(out, o.videoPid, c.video, pes);
    } else {
      Packetize(out, o.audioPid, c.audio, pes);
    }
  }
  return out;
}

Bytes WriteTransportStream(const std::vector<MpegUnit>& units, const MpegStreamOptions& o) {
  TsCounters counters;
  return WriteTransportStream(units, o, counters);
}

}  // namespace sp_test
