// Fuzzes the stand-in decoder's stream handling: the 40-byte file header,
// the packet reader over data split at arbitrary points, and the decoders
// behind it (raw, zlib, and H.264/H.265 access units or bare Annex-B streams),
// and the audio packets (G.711 A-law and mu-law, AAC in ADTS) through the
// sound stage's decoders.
//
// Input layout:
//   [0]      flags: bits 0-1 choose the pool size (the player's 512000, its
//            1024000, the smallest the header allows, or that plus [2..3]);
//            bit 2 drops the buffered data once midway, as ResetSourceBuffer
//            does; bit 3 cuts the header to [2..3] % 41 bytes
//   [1]      seed of the split points
//   [2..3]   a 16-bit extra value
//   [4..43]  the file header
//   [44..]   the stream data, fed in pieces of 1 to 4096 bytes
//
// The header goes through VdPlay_OpenStream on a port (without playing, so
// no display thread runs and every run is repeatable) and through the
// internal header check, which must agree. The data goes into the port with
// VdPlay_InputData, whose buffered byte count must add up, and through the
// internal input reader and picture decoder exactly as the display thread
// drives them, checking every unit found against the header and every
// picture decoded for a sane size.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "VdPlay.h"
#include "VdStreamFormat.h"
#include "source/byte_ring.h"
#include "source/input_reader.h"
#include "decode/audio_decoder.h"
#include "decode/picture_decoder.h"
#include "source/stream_header.h"

namespace {

constexpr VdLong kPort = 7;
// Larger pools are refused here so that a run stays small; a header that
// needs more only goes through the header checks.
constexpr std::size_t kLargestPool = 64u * 1024u * 1024u;

void checkAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "stream_parser_fuzz.cpp:%d: check failed\n", line);
  std::abort();
}
#define check(ok) checkAt((ok), __LINE__)

struct Splitter {
  std::uint32_t state;
  explicit Splitter(std::uint8_t seed) : state(0x9E3779B9u ^ (seed * 0x01000193u)) {}
  std::size_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    // Mostly small pieces, sometimes large ones.
    return (state & 0x100) ? 1 + state % 4096 : 1 + state % 37;
  }
};

// Decodes an audio payload as the sound stage does: whatever it holds, the
// decoder either refuses it or gives out whole frames of 1 or 2 channels.
void decodeAudio(const std::vector<std::uint8_t>& payload, std::uint32_t type) {
  static std::unique_ptr<vdplay::AudioDecoder> decoders[3];
  static bool tried[3];
  const std::uint32_t index = type - static_cast<std::uint32_t>(vdstream::Payload::G711ALaw);
  const vdplay::AudioCodec codecs[3] = {vdplay::AudioCodec::G711ALaw, vdplay::AudioCodec::G711MuLaw,
                                        vdplay::AudioCodec::Aac};
  if (!tried[index]) {
    tried[index] = true;
    vdplay::createAudioDecoder(codecs[index], decoders[index]);  // none for AAC without FFmpeg
  }
  if (!decoders[index]) return;
  vdplay::PcmBlock pcm;
  if (!decoders[index]->decode(payload.data(), payload.size(), pcm)) return;
  check(pcm.channels == 1 || pcm.channels == 2);
  check(pcm.rate > 0 && pcm.rate <= 192000);
  check(pcm.samples.size() % pcm.channels == 0);
  if (index < 2) check(pcm.samples.size() == payload.size() && pcm.rate == 8000);
}

// Runs the reader and decoder over what is buffered, as the display thread
// does, until it needs more data. Returns the number of units taken out.
std::size_t drain(vdplay::ByteRing& ring, vdplay::InputReader& reader,
                  vdplay::PictureDecoder& decoder, const vdplay::StreamFormat& format) {
  const bool coded = format.codec != vdstream::Codec::None;
  const bool bare = format.framing == vdstream::Framing::AnnexB;
  std::size_t units = 0;
  for (;;) {
    const std::size_t before = ring.size();
    vdplay::InputUnit unit;
    const vdplay::InputReader::Result found = reader.next(ring, unit);
    check(ring.size() <= before);
    if (!found.found) {
      // What is left is the start of a packet, or at most three bytes that
      // may begin a magic; a bare stream leaves nothing.
      check(!bare || ring.size() == 0);
      return units;
    }
    check(unit.totalSize <= ring.size() && unit.offset + unit.size == unit.totalSize);
    if (!bare && vdstream::isAudioPayload(unit.type)) {
      // Audio packets go with any codec, to the sound stage.
      check(unit.totalSize == vdstream::kPacketHeaderSize + unit.size);
      check(unit.size > 0 && unit.size <= vdstream::kMaxAudioPayload);
      std::vector<std::uint8_t> payload(unit.size);
      ring.copyOut(unit.offset, payload.data(), payload.size());
      decodeAudio(payload, unit.type);
      ring.consume(unit.totalSize);
      ++units;
      continue;
    }
    if (bare) {
      check(unit.type == 0 && unit.offset == 0 && unit.size > 0);
    } else {
      check(unit.totalSize == vdstream::kPacketHeaderSize + unit.size);
      if (coded) check(unit.type == static_cast<std::uint32_t>(format.codec) + 2 && unit.size > 0);
      if (!coded) check(unit.type == 1 || unit.type == 2);
      if (unit.type == 1) check(unit.size == format.pictureBytes);
      if (unit.type == 2) check(unit.size > 0 && unit.size <= format.maxPayload);
    }

    std::vector<std::uint8_t> payload(unit.size);
    ring.copyOut(unit.offset, payload.data(), payload.size());
    const bool taken = decoder.send(ring.view(unit.offset, unit.size), unit.type, unit.stampMs);
    check(taken || !coded);  // compressed units are judged while decoding
    vdplay::Frame frame;
    std::uint32_t damaged = 0;
    while (taken && decoder.receive(frame, damaged)) {
      const std::uint8_t* pixels = frame.pixels();
      if (!pixels) continue;  // a form that cannot be converted
      check(frame.width >= 2 && frame.height >= 2 && frame.width % 2 == 0 &&
            frame.height % 2 == 0);
      check(frame.bytes() == vdstream::pictureBytes(frame.width, frame.height));
      volatile std::uint8_t last = pixels[frame.bytes() - 1];  // readable to the end
      (void)last;
      if (unit.type == 1) {
        check(std::memcmp(pixels, payload.data(), payload.size()) == 0);
      } else if (unit.type == 2) {
        // A payload the decoder took must inflate to exactly one picture.
        std::vector<std::uint8_t> inflated(format.pictureBytes);
        uLongf length = static_cast<uLongf>(inflated.size());
        check(uncompress(inflated.data(), &length, payload.data(),
                         static_cast<uLong>(payload.size())) == Z_OK);
        check(length == format.pictureBytes);
        check(std::memcmp(pixels, inflated.data(), inflated.size()) == 0);
      }
    }
    ring.consume(unit.totalSize);
    ++units;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint8_t flags = data[0];
  Splitter splitter(data[1]);
  const std::uint16_t extra = static_cast<std::uint16_t>(data[2] | data[3] << 8);
  data += 4;
  size -= 4;

  std::size_t headerLength = size < vdstream::kFileHeaderSize ? size : vdstream::kFileHeaderSize;
  std::vector<std::uint8_t> header(data, data + headerLength);
  data += headerLength;
  size -= headerLength;
  if (flags & 8) headerLength = extra % (vdstream::kFileHeaderSize + 1);
  if (headerLength < header.size()) header.resize(headerLength);

  // The header check on its own: a refusal leaves the format untouched.
  vdplay::StreamFormat format;
  const std::uint32_t refused =
      vdplay::parseFileHeader(header.empty() ? nullptr : header.data(), header.size(), format);
  check(refused == 0 || refused == VDPLAY_ERR_NO_HEADER || refused == VDPLAY_ERR_VERSION ||
        refused == VDPLAY_ERR_UNRECOGNISED);
  if (refused != 0) check(format.width == 0 && format.pictureBytes == 0);
  if (refused == 0) {
    check(format.width >= 2 && format.width <= 4096 && format.width % 2 == 0);
    check(format.height >= 2 && format.height <= 4096 && format.height % 2 == 0);
    check(format.pictureBytes == vdstream::pictureBytes(format.width, format.height));
    check(format.maxPayload >= format.pictureBytes);
  }

  std::size_t pool = 512000;
  switch (flags & 3) {
    case 1: pool = 1024000; break;
    case 2: pool = refused == 0 ? vdplay::minPoolBytes(format) : 4096; break;
    case 3: pool = (refused == 0 ? vdplay::minPoolBytes(format) : 4096) + extra; break;
    default: break;
  }
  const bool poolAllowed = pool <= kLargestPool;

  // The same header through the library's own entry point. The port is
  // closed again on every way out, so the next run finds it free.
  bool portOpen = false;
  struct CloseOnExit {
    bool& open;
    ~CloseOnExit() {
      if (open) check(VdPlay_CloseStream(kPort) != 0);
    }
  } closeOnExit{portOpen};
  if (poolAllowed) {
    const VdBool opened = VdPlay_OpenStream(kPort, header.empty() ? nullptr : header.data(),
                                            static_cast<VdDword>(header.size()),
                                            static_cast<VdDword>(pool));
    if (refused != 0) {
      check(!opened && VdPlay_GetLastError(kPort) == refused);
    } else if (pool < vdplay::minPoolBytes(format)) {
      // A huge picture whose packets cannot fit into the pool.
      check(!opened && VdPlay_GetLastError(kPort) == VDPLAY_ERR_BAD_ARGUMENT);
    } else {
      check(opened != 0);
      portOpen = true;
    }
  }
  if (refused != 0 || !poolAllowed || pool < vdplay::minPoolBytes(format)) return 0;
  // Program and transport streams count their access units against the
  // pool, not the bytes as pushed: the demuxer targets take them apart.
  if (vdstream::isMpegFraming(format.framing)) return 0;

  // The ring is kept from run to run while the pool size stays the same:
  // allocating half a megabyte for every run would cost more than parsing.
  static vdplay::ByteRing ring;
  if (ring.capacity() == pool) {
    ring.clear();
  } else if (!ring.allocate(pool)) {
    return 0;
  }
  vdplay::InputReader reader(format);
  std::unique_ptr<vdplay::PictureDecoder> decoder;
  if (vdplay::createPictureDecoder(format, decoder) != 0) return 0;

  std::size_t portBytes = 0;  // what the port's buffer holds, by our count
  const std::size_t resetAt = (flags & 4) ? size / 2 : static_cast<std::size_t>(-1);
  bool resetDone = false;
  std::size_t fed = 0;
  while (fed < size) {
    std::size_t piece = splitter.next();
    if (piece > size - fed) piece = size - fed;
    const std::uint8_t* bytes = data + fed;

    if (portOpen) {
      const bool fits = portBytes + piece <= pool;
      const VdBool taken = VdPlay_InputData(kPort, const_cast<std::uint8_t*>(bytes),
                                            static_cast<VdDword>(piece));
      check((taken != 0) == fits);
      if (!taken) check(VdPlay_GetLastError(kPort) == VDPLAY_ERR_BUFFER_FULL);
      if (taken) portBytes += piece;
      check(VdPlay_GetSourceBufferRemain(kPort) == portBytes);
      if (!fits) {
        // The host gives up on a full buffer; the decoder would have played
        // the data by now, so start the port's count again.
        check(VdPlay_ResetSourceBuffer(kPort) != 0);
        check(VdPlay_GetSourceBufferRemain(kPort) == 0);
        portBytes = 0;
      }
    }

    if (!ring.write(bytes, piece)) {
      drain(ring, reader, *decoder, format);
      // A piece larger than the free space after draining is refused for
      // good, as the port refuses it; nothing of it is stored.
      const std::size_t before = ring.size();
      if (!ring.write(bytes, piece)) check(ring.size() == before);
    }
    check(ring.size() <= ring.capacity());
    drain(ring, reader, *decoder, format);
    fed += piece;

    if (!resetDone && fed >= resetAt) {
      resetDone = true;
      ring.clear();
      reader.reset();
      decoder->flush();
    }
  }
  drain(ring, reader, *decoder, format);
  return 0;
}
