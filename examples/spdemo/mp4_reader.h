// A reader of MP4 and MOV files written for the demo, with the
// standard library only, so that the Windows demo plays them with their
// sound whatever the system's own readers give: the first H.264 (avc1, avc3)
// or H.265 (hvc1, hev1) video track as Annex-B access units (start codes,
// the parameter sets of the sample description before each key picture),
// stamped from the sample tables and the track's time scale, in decoding
// order; and the first AAC (mp4a, each frame given an ADTS header) or G.711
// (alaw, ulaw; 8 kHz mono) sound track, interleaved by time.
//
// The index (moov) may sit before or after the media data; movie fragments
// are not read. A simple edit list is followed: leading empty edits delay
// the track, the first other edit says where its media starts. Every offset,
// size and count is checked against the file and the boxes that hold it: a
// damaged or cut file gives a clear error at open, or fewer units and an
// error at the end, never a read out of bounds.
#pragma once

#include <memory>
#include <string>

#include "video_file.h"

namespace spdemo {

class Mp4Reader : public VideoFileReader {
 public:
  Mp4Reader();
  ~Mp4Reader() override;
  Mp4Reader(const Mp4Reader&) = delete;
  Mp4Reader& operator=(const Mp4Reader&) = delete;

  // Reads the file's index and chooses its tracks. False with error() set
  // when the file cannot be read, is no MP4/MOV file, or has no H.264 or
  // H.265 video track.
  bool open(const std::string& path);

  bool read(AccessUnit& unit) override;
  bool takeAudio(AudioUnitOut& unit) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True for the names the demo reads with Mp4Reader: .mp4, .mov, .m4v.
bool isMp4FileName(const std::string& path);

// The stand-in's stream of an MP4/MOV file; null with error set when the
// reader refuses it.
std::unique_ptr<PacketSource> openMp4Source(const std::string& path, std::string& error);

}  // namespace spdemo
