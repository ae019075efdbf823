#include "decode/mf_platform.h"

namespace vdplay {
namespace {

template <class F>
bool loadFunction(HMODULE module, const char* name, F& f) {
  // Through void (*)(): GetProcAddress's type says nothing of the function's.
  f = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return f != nullptr;
}

// Keeps an MTA alive where CoIncrementMTAUsage is missing (before Windows 8):
// a thread of the library that joins the MTA and waits for ever.
struct MtaKeeper {
  decltype(&::CoInitializeEx) init = nullptr;
  HANDLE joined = nullptr;
};

DWORD WINAPI keepMta(LPVOID p) {
  auto* keeper = static_cast<MtaKeeper*>(p);
  keeper->init(nullptr, COINIT_MULTITHREADED);
  SetEvent(keeper->joined);
  Sleep(INFINITE);
  return 0;
}

void keepMtaWithThread(HMODULE ole32) {
  static MtaKeeper keeper;
  if (!loadFunction(ole32, "CoInitializeEx", keeper.init)) return;
  keeper.joined = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!keeper.joined) return;
  HANDLE thread = CreateThread(nullptr, 0, keepMta, &keeper, 0, nullptr);
  if (thread) {
    WaitForSingleObject(keeper.joined, 5000);
    CloseHandle(thread);
  }
}

}  // namespace

const MfApi& mfApi() {
  static const MfApi api = [] {
    MfApi a;
    HMODULE ole32 = LoadLibraryW(L"ole32.dll");
    HMODULE mfplat = LoadLibraryW(L"mfplat.dll");
    if (!ole32 || !mfplat) return a;
    using IncrementMta = HRESULT(WINAPI*)(CO_MTA_USAGE_COOKIE*);
    IncrementMta incrementMta = nullptr;
    CO_MTA_USAGE_COOKIE cookie = nullptr;
    if (!loadFunction(ole32, "CoIncrementMTAUsage", incrementMta) || FAILED(incrementMta(&cookie)))
      keepMtaWithThread(ole32);
    if (!loadFunction(mfplat, "MFStartup", a.startup) ||
        !loadFunction(mfplat, "MFTEnumEx", a.enumEx) ||
        !loadFunction(mfplat, "MFCreateMediaType", a.createMediaType) ||
        !loadFunction(mfplat, "MFCreateSample", a.createSample) ||
        !loadFunction(mfplat, "MFCreateMemoryBuffer", a.createMemoryBuffer) ||
        !loadFunction(ole32, "CoTaskMemFree", a.taskMemFree))
      return a;
    a.ready = SUCCEEDED(a.startup(MF_VERSION, MFSTARTUP_LITE));
    return a;
  }();
  return api;
}

}  // namespace vdplay
