// Windows side of os.h; the only file of the demo that includes windows.h.
#include <windows.h>

#include "os.h"

namespace spdemo::os {
namespace {

constexpr char kWindowClass[] = "SpDemoVideoWindow";

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class Win32VideoWindow : public VideoWindow {
 public:
  explicit Win32VideoWindow(HWND window) : window_(window) {}
  ~Win32VideoWindow() override {
    if (IsWindow(window_)) DestroyWindow(window_);
  }
  SP_HWND handle() const override { return window_; }
  bool pump() override {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) closed_ = true;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    return !closed_;
  }

 private:
  HWND window_;
  bool closed_ = false;
};

}  // namespace

AnyFunction findDecoderFunction(const char* name) {
  HMODULE decoder = GetModuleHandleA("VdPlay.dll");
  if (!decoder) return nullptr;
  return reinterpret_cast<AnyFunction>(GetProcAddress(decoder, name));
}

std::string systemDriveRoot() {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length < 3 || length >= MAX_PATH) return "C:/";
  return std::string(folder, 2) + "/";
}

std::unique_ptr<VideoWindow> VideoWindow::open(std::uint32_t width, std::uint32_t height,
                                               const std::string& title, std::string& error) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    error = "cannot register the window class";
    return nullptr;
  }
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  AdjustWindowRect(&frame, style, FALSE);
  HWND window = CreateWindowExA(0, kWindowClass, title.c_str(), style, CW_USEDEFAULT,
                                CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
  if (!window) {
    error = "cannot create a window (is there a display?)";
    return nullptr;
  }
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  auto result = std::make_unique<Win32VideoWindow>(window);
  result->pump();
  return result;
}

}  // namespace spdemo::os
