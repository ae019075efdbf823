#include "y4m_reader.h"

#include <cstdlib>
#include <sstream>

namespace spdemo {
namespace {

constexpr char kStreamMagic[] = "YUV4MPEG2";
constexpr char kFrameMagic[] = "FRAME";
constexpr std::uint32_t kLargestSide = 4096;

bool parseNumber(const std::string& text, std::uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

// 8-bit 4:2:0 colour spaces; the "p10"-style tags of deeper samples are not.
bool isSupportedColourSpace(const std::string& tag) {
  return tag == "420" || tag == "420jpeg" || tag == "420paldv" || tag == "420mpeg2";
}

}  // namespace

bool parseY4mHeader(const std::string& line, std::uint32_t& width, std::uint32_t& height,
                    std::uint32_t& rateNum, std::uint32_t& rateDen, std::string& error) {
  std::istringstream fields(line);
  std::string field;
  if (!(fields >> field) || field != kStreamMagic) {
    error = "not a YUV4MPEG2 file";
    return false;
  }
  width = height = 0;
  rateNum = 25;
  rateDen = 1;
  while (fields >> field) {
    const char tag = field[0];
    const std::string value = field.substr(1);
    if (tag == 'W' && !parseNumber(value, width)) {
      error = "bad width " + value;
      return false;
    }
    if (tag == 'H' && !parseNumber(value, height)) {
      error = "bad height " + value;
      return false;
    }
    if (tag == 'F') {
      const std::string::size_type colon = value.find(':');
      if (colon == std::string::npos || !parseNumber(value.substr(0, colon), rateNum) ||
          !parseNumber(value.substr(colon + 1), rateDen) || rateNum == 0 || rateDen == 0) {
        error = "bad frame rate " + value;
        return false;
      }
    }
    if (tag == 'C' && !isSupportedColourSpace(value)) {
      error = "colour space C" + value + " is not 8-bit 4:2:0";
      return false;
    }
  }
  if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide) {
    error = "picture size missing or above 4096x4096";
    return false;
  }
  if (width % 2 != 0 || height % 2 != 0) {
    error = "odd picture sizes cannot be played";
    return false;
  }
  return true;
}

Y4mReader::~Y4mReader() {
  if (file_) std::fclose(file_);
}

std::size_t Y4mReader::pictureBytes() const {
  return static_cast<std::size_t>(width_) * height_ * 3 / 2;
}

bool Y4mReader::readLine(std::string& line, std::size_t limit) {
  line.clear();
  for (;;) {
    const int c = std::fgetc(file_);
    if (c == EOF) return false;
    if (c == '\n') return true;
    if (line.size() >= limit) return false;
    line.push_back(static_cast<char>(c));
  }
}

bool Y4mReader::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    error_ = "cannot open " + path;
    return false;
  }
  std::string line;
  if (!readLine(line, 1024)) {
    error_ = "no YUV4MPEG2 header line";
    return false;
  }
  return parseY4mHeader(line, width_, height_, rateNum_, rateDen_, error_);
}

bool Y4mReader::readFrame(std::vector<std::uint8_t>& picture) {
  std::string line;
  if (!readLine(line, 1024)) {
    if (!line.empty()) error_ = "frame header cut short";
    return false;
  }
  if (line.compare(0, 5, kFrameMagic) != 0 || (line.size() > 5 && line[5] != ' ')) {
    error_ = "bad frame header";
    return false;
  }
  picture.resize(pictureBytes());
  if (std::fread(picture.data(), 1, picture.size(), file_) != picture.size()) {
    error_ = "last frame cut short";
    return false;
  }
  return true;
}

}  // namespace spdemo
