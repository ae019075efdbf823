// Opens the codec module (codec_module.h) and makes decoders with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/codec_module.h"
#include "decode/picture_decoder.h"

namespace vdplay {

class CodecModuleLoader {
 public:
  // Loads the first of the files that opens with all its libraries and
  // exports the factory. A module once loaded is never closed: decoders it
  // made may outlive any owner of the loader.
  explicit CodecModuleLoader(const std::vector<std::string>& files);

  bool loaded() const { return factory_ != nullptr; }

  // A decoder for the H.264 or H.265 stream in out; returns 0,
  // VDPLAY_ERR_ALLOC, or VDPLAY_ERR_DECODER_INIT (also when no module loaded).
  std::uint32_t createDecoder(const StreamFormat& format,
                              std::unique_ptr<PictureDecoder>& out) const;

  // The library's own loader, made on first use and kept for the process:
  // the module beside the library itself, else by its plain name.
  static const CodecModuleLoader& forProcess();

  // An audio decoder for codec in out, with the same results.
  std::uint32_t createAudioDecoder(AudioCodec codec, std::unique_ptr<AudioDecoder>& out) const;

 private:
  CodecModuleFactory factory_ = nullptr;
  CodecModuleAudioFactory audioFactory_ = nullptr;
};

// The files the library tries: the module in the folder of the library (or
// program) that holds this code, then the plain file name, which the
// dynamic loader looks up in its usual places.
std::vector<std::string> codecModuleFiles();

}  // namespace vdplay
