// Reads YUV4MPEG2 files with 8-bit 4:2:0 pictures ("C420", "C420jpeg",
// "C420paldv", "C420mpeg2" or no colour-space tag). Each frame comes out as
// an I420 picture: Y plane, then U, then V, without row padding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace spdemo {

class Y4mReader {
 public:
  Y4mReader() = default;
  ~Y4mReader();
  Y4mReader(const Y4mReader&) = delete;
  Y4mReader& operator=(const Y4mReader&) = delete;

  // Opens the file and reads its stream header. False with error() set when
  // the file cannot be read or is not a stream this reader handles.
  bool open(const std::string& path);

  // Reads the next frame into picture (resized to pictureBytes()). False at
  // the end of the file; error() is then non-empty if the file was cut short
  // or a frame header was malformed.
  bool readFrame(std::vector<std::uint8_t>& picture);

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::uint32_t rateNumerator() const { return rateNum_; }
  std::uint32_t rateDenominator() const { return rateDen_; }
  std::size_t pictureBytes() const;
  const std::string& error() const { return error_; }

 private:
  bool parseHeader(const std::string& line);
  bool readLine(std::string& line, std::size_t limit);

  std::FILE* file_ = nullptr;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t rateNum_ = 25;
  std::uint32_t rateDen_ = 1;
  std::string error_;
};

// Parses the header line of a YUV4MPEG2 stream (without its line feed) into
// width, height and frame rate; exposed for the tests of the reader.
bool parseY4mHeader(const std::string& line, std::uint32_t& width, std::uint32_t& height,
                    std::uint32_t& rateNum, std::uint32_t& rateDen, std::string& error);

}  // namespace spdemo
