#include "config/ConfigFile.h"

#include <cstdio>
#include <memory>

#include "platform/Platform.h"

namespace sp {
namespace {

constexpr int kPieceBufferBytes = 100;  // pieces of at most 99 bytes

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void forwardSlashes(std::string& path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
}

// Reads the next piece; false at end of file or on a read error. A byte 0
// inside the piece ends its text there.
bool readPiece(std::FILE* file, std::string& piece) {
  char buffer[kPieceBufferBytes];
  if (std::fgets(buffer, sizeof buffer, file) == nullptr) return false;
  piece.assign(buffer);
  return true;
}

// The text of the bracketed field opening at the first "[" at or after
// `from`; the position of that "[" goes to `open`. False when there is no "["
// or no "]" after it.
bool bracketedField(const std::string& piece, std::string::size_type from, std::string& text,
                    std::string::size_type& open) {
  open = piece.find('[', from);
  if (open == std::string::npos) return false;
  const std::string::size_type close = piece.find(']', open + 1);
  if (close == std::string::npos) return false;
  text = piece.substr(open + 1, close - open - 1);
  return true;
}

bool isComment(const std::string& piece) { return !piece.empty() && piece[0] == '#'; }

}  // namespace

int ConfigFile::ReadConfigValue(std::string file, std::string section, std::string key,
                                std::string& value) const {
  File handle(std::fopen(file.c_str(), "r"));
  if (!handle) return -1;

  std::string piece;
  std::string field;
  std::string::size_type open = 0;

  // Section search: the first header line naming the section.
  for (;;) {
    if (!readPiece(handle.get(), piece)) return -1;
    if (isComment(piece)) continue;
    if (bracketedField(piece, 0, field, open) && field == section) break;
  }
  // Key search: the first entry with the key after that header.
  for (;;) {
    if (!readPiece(handle.get(), piece)) return -1;
    if (isComment(piece)) continue;
    if (!bracketedField(piece, 0, field, open) || field != key) continue;
    // The value is the next bracketed field after the key's opening bracket,
    // on this piece only.
    std::string found;
    std::string::size_type valueOpen = 0;
    if (!bracketedField(piece, open + 1, found, valueOpen)) return -1;
    value = found;
    return 0;
  }
}

int ConfigFile::PathExists(std::string path) const {
  if (path.empty()) return 0;
  forwardSlashes(path);
  if (path.back() == '/') path += "*";
  if (path.back() == ':') path += "/*";
  return platform::FindEntry(path) ? 1 : 0;
}

int ConfigFile::MakeDirectoryPath(std::string path) const {
  forwardSlashes(path);
  if (!path.empty() && path.back() != '/') path += "/";
  if (PathExists(path) == 1) return 0;

  // The first three characters (the "c:/" of a drive path) never count as a
  // separator position.
  std::string::size_type searchFrom = 3;
  for (;;) {
    const std::string::size_type slash = path.find('/', searchFrom);
    if (slash == std::string::npos) return 0;
    const std::string prefix = path.substr(0, slash);
    searchFrom = slash + 1;
    if (PathExists(prefix) == 1) continue;
    if (platform::CreateOneDirectory(prefix) == platform::CreateDirResult::Failed) return -1;
  }
}

}  // namespace sp
