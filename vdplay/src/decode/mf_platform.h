// What the Media Foundation decoders (mf_decoder for pictures,
// mf_audio_decoder for sound) share: Media Foundation and COM, loaded at run
// time, and a small COM pointer. Windows build only.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mftransform.h>

namespace vdplay {

// Media Foundation and COM, loaded once per process when the first
// compressed stream (or the first AAC sound) is opened, and kept: nothing of the library is ever
// unloaded. An MTA is kept alive for the process (CoIncrementMTAUsage), so
// the port threads, which have no apartment of their own, and a host thread
// without one, use the decoders as its members.
struct MfApi {
  decltype(&::MFStartup) startup = nullptr;
  decltype(&::MFTEnumEx) enumEx = nullptr;
  decltype(&::MFCreateMediaType) createMediaType = nullptr;
  decltype(&::MFCreateSample) createSample = nullptr;
  decltype(&::MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
  decltype(&::CoTaskMemFree) taskMemFree = nullptr;
  bool ready = false;
};

// The functions, loaded and Media Foundation started on the first call;
// ready is false when that failed.
const MfApi& mfApi();

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& o) {
    if (o.p_) o.p_->AddRef();
    reset();
    p_ = o.p_;
    return *this;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};


}  // namespace vdplay
