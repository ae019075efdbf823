// Fuzzes ConfigFile::ReadConfigValue over arbitrary file contents.
//
// The bytes become the configuration file; a few section/key pairs are looked
// up, some fixed and some taken from the file's own first fields so that
// matches are easy to reach. Every answer is compared with a small model of
// the grammar written from scratch here (pieces of at most 99 bytes, "#"
// comments, first field, second field on the key's own piece), and checked
// for the reader's guarantees: result 0 or -1, the value untouched on -1, and
// on 0 a value that can only have come from between two brackets of one piece.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/ConfigFile.h"

namespace {

const std::string& tempFile() {
  static const std::string path = [] {
    char pattern[] = "/tmp/sp_fuzz_config_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    // Removed at exit through a copy that outlives every static object.
    static const std::string* const leftover = new std::string(pattern);
    std::atexit([] { std::remove(leftover->c_str()); });
    return std::string(pattern);
  }();
  return path;
}

// The pieces a line reader with a 100-byte buffer hands out: up to 99 bytes,
// ending after a line feed; the text of a piece ends at its first byte 0.
std::vector<std::string> pieces(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t len = 0;
    while (pos + len < size && len < 99) {
      ++len;
      if (data[pos + len - 1] == '\n') break;
    }
    std::string piece(reinterpret_cast<const char*>(data + pos), len);
    out.push_back(piece.substr(0, piece.find('\0')));
    pos += len;
  }
  return out;
}

bool field(const std::string& piece, std::size_t from, std::string& text, std::size_t& open) {
  open = piece.find('[', from);
  if (open == std::string::npos) return false;
  const std::size_t close = piece.find(']', open + 1);
  if (close == std::string::npos) return false;
  text = piece.substr(open + 1, close - open - 1);
  return true;
}

int model(const std::vector<std::string>& lines, const std::string& section,
          const std::string& key, std::string& value) {
  std::size_t i = 0;
  std::string text;
  std::size_t open = 0;
  for (;; ++i) {
    if (i == lines.size()) return -1;
    if (!lines[i].empty() && lines[i][0] == '#') continue;
    if (field(lines[i], 0, text, open) && text == section) break;
  }
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (!line.empty() && line[0] == '#') continue;
    if (!field(line, 0, text, open) || text != key) continue;
    std::size_t valueOpen = 0;
    if (!field(line, open + 1, text, valueOpen)) return -1;
    value = text;
    return 0;
  }
  return -1;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = tempFile();
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const std::vector<std::string> lines = pieces(data, size);

  std::vector<std::pair<std::string, std::string>> lookups = {
      {"GLOBAL", "TRACE_PATH"}, {"GLOBAL", "DEBUG_LEVEL"}, {"", ""}, {"GLOBAL", ""}};
  // Names taken from the file itself: the first fields of its first pieces.
  std::string first;
  std::string second;
  std::size_t open = 0;
  if (lines.size() > 0 && field(lines[0], 0, first, open)) {
    lookups.emplace_back(first, "DEBUG_LEVEL");
    for (std::size_t i = 1; i < lines.size() && i < 4; ++i) {
      if (field(lines[i], 0, second, open)) lookups.emplace_back(first, second);
    }
  }

  const sp::ConfigFile config;
  for (const auto& [section, key] : lookups) {
    const std::string sentinel = "\x01untouched\x02";
    std::string value = sentinel;
    const int result = config.ReadConfigValue(path, section, key, value);
    check(result == 0 || result == -1);
    std::string expected = sentinel;
    const int expectedResult = model(lines, section, key, expected);
    check(result == expectedResult);
    check(value == expected);
    if (result == -1) {
      check(value == sentinel);
    } else {
      check(value.size() <= 97);
      check(value.find(']') == std::string::npos);
      check(value.find('\n') == std::string::npos);
      check(value.find('\0') == std::string::npos);
    }
  }
  // A file that cannot be opened answers -1 and leaves the value alone.
  std::string untouched = "x";
  check(config.ReadConfigValue("", "GLOBAL", "TRACE_PATH", untouched) == -1 && untouched == "x");
  return 0;
}
