#include "decode/codec_module_loader.h"

#include <dlfcn.h>

#include "VdPlay.h"

namespace vdplay {
namespace {

CodecModuleFactory openModule(const std::string& file, CodecModuleAudioFactory& audio) {
  // Every symbol bound now: a module whose FFmpeg libraries are missing or
  // too old fails here, not in the middle of playback.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  void* factory = dlsym(handle, kCodecModuleFactory);
  if (!factory) {
    dlclose(handle);
    return nullptr;
  }
  audio = reinterpret_cast<CodecModuleAudioFactory>(dlsym(handle, kCodecModuleAudioFactory));
  return reinterpret_cast<CodecModuleFactory>(factory);
}

// The folder of the file this code was loaded from, with a trailing slash;
// empty when unknown.
std::string ownFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ownFolder), &info) || !info.dli_fname) return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

CodecModuleLoader::CodecModuleLoader(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    factory_ = openModule(file, audioFactory_);
    if (factory_) return;
  }
}

std::uint32_t CodecModuleLoader::createDecoder(const StreamFormat& format,
                                               std::unique_ptr<PictureDecoder>& out) const {
  if (!factory_) return VDPLAY_ERR_DECODER_INIT;
  PictureDecoder* decoder = nullptr;
  const std::uint32_t failed = factory_(kCodecModuleInterface, &format, &decoder);
  if (failed) return failed;
  if (!decoder) return VDPLAY_ERR_DECODER_INIT;
  out.reset(decoder);
  return 0;
}

std::uint32_t CodecModuleLoader::createAudioDecoder(AudioCodec codec,
                                                    std::unique_ptr<AudioDecoder>& out) const {
  if (!audioFactory_) return VDPLAY_ERR_DECODER_INIT;
  AudioDecoder* decoder = nullptr;
  const std::uint32_t failed =
      audioFactory_(kCodecModuleInterface, static_cast<std::uint32_t>(codec), &decoder);
  if (failed) return failed;
  if (!decoder) return VDPLAY_ERR_DECODER_INIT;
  out.reset(decoder);
  return 0;
}

const CodecModuleLoader& CodecModuleLoader::forProcess() {
  static const CodecModuleLoader loader(codecModuleFiles());
  return loader;
}

std::vector<std::string> codecModuleFiles() {
  std::vector<std::string> files;
  const std::string folder = ownFolder();
  if (!folder.empty()) files.push_back(folder + kCodecModuleFile);
  files.push_back(kCodecModuleFile);
  return files;
}

}  // namespace vdplay
