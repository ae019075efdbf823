// host_minimal: the smallest complete host of SinglePlayer. It plays a stream
// file (the decoder's file header followed by its packets, as
// `spdemo pack` writes it) on one host port, optionally saves a snapshot, and
// hands the player back. It uses nothing but the public header and the two
// exports.
//
// Usage: host_minimal STREAM_FILE [SNAPSHOT.bmp]
#include <SinglePlayer.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr int32_t kPort = 5;                 // any host port from 0 to 127
constexpr std::size_t kPieceBytes = 32768;   // data arrives in pieces of any size

std::vector<uint8_t> ReadWholeFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
}

// Reports a failed operation; every operation returns 0 on success.
bool Succeeded(const char* operation, int32_t result) {
  if (result != SP_OK) std::fprintf(stderr, "%s failed: result %d\n", operation, result);
  return result == SP_OK;
}

bool PlayStream(ISinglePlayer* player, std::vector<uint8_t>& stream, const char* snapshot) {
  // The decoder's file header opens the stream; the rest is data.
  uint32_t headerLength = 0;
  if (!Succeeded("Play_GetHeadLen", player->Play_GetHeadLen(&headerLength))) return false;
  if (stream.size() <= headerLength) {
    std::fprintf(stderr, "the file holds no stream data\n");
    return false;
  }

  // A host port gets its decoder port from Play_SetOpenMode (or
  // Play_SetOverlayMode): without one, Play_OpenStream returns 2. Open mode
  // 0 gives the stream a 512,000-byte buffer, mode 1 a 1,024,000-byte one.
  if (!Succeeded("Play_SetOpenMode", player->Play_SetOpenMode(kPort, 0))) return false;

  // No window here: the decoder decodes and paces without painting.
  SP_HWND window = nullptr;
  if (!Succeeded("Play_OpenStream",
                 player->Play_OpenStream(window, kPort, stream.data(), headerLength, 0))) {
    return false;
  }

  // Play_InputData may block about a second while the decoder's buffer is
  // full; a result other than 0 means the piece was not taken.
  bool fed = true;
  for (std::size_t offset = headerLength; fed && offset < stream.size(); offset += kPieceBytes) {
    const auto length = static_cast<uint32_t>(std::min(kPieceBytes, stream.size() - offset));
    fed = Succeeded("Play_InputData", player->Play_InputData(kPort, &stream[offset], length, 0));
  }

  // Play_GetPicture waits up to 50 ms for the next frame shown and writes it.
  bool captured = true;
  if (fed && snapshot != nullptr) {
    captured = Succeeded("Play_GetPicture", player->Play_GetPicture(kPort, snapshot));
  }

  int32_t width = 0;
  int32_t height = 0;
  if (player->Play_GetPictureSize(kPort, &width, &height) == SP_OK) {
    std::printf("played %zu bytes of a %dx%d stream on host port %d\n", stream.size(), width,
                height, kPort);
  }
  const bool closed = Succeeded("Play_CloseStream", player->Play_CloseStream(kPort));
  return fed && captured && closed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: host_minimal STREAM_FILE [SNAPSHOT.bmp]\n");
    return 2;
  }
  std::vector<uint8_t> stream = ReadWholeFile(argv[1]);

  ISinglePlayer* player = CreateSinglePlayerDll();
  if (player == nullptr) return 1;
  // Play_Init reads the log folder and the debug level from the
  // configuration file; its argument is kept for the host and never read.
  bool ok = Succeeded("Play_Init", player->Play_Init(0));
  ok = ok && PlayStream(player, stream, argc == 3 ? argv[2] : nullptr);
  ReleaseSinglePlayerDll(player);
  return ok ? 0 : 1;
}
