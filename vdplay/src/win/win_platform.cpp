// Windows side: painting frames with GDI. The only file of the library that
// sees windows.h.
#include <windows.h>

#include <cstring>
#include <vector>

#include "painter.h"

namespace vdplay {
namespace {

class GdiPainter final : public Painter {
 public:
  explicit GdiPainter(HWND wnd) : wnd_(wnd) {}

  void present(const std::uint8_t* i420, int width, int height,
               const DisplaySettings& settings) override {
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 3 / 2;
    frame_.resize(bytes);  // allocates only when the picture size changes
    std::memcpy(frame_.data(), i420, bytes);
    width_ = width;
    height_ = height;
    draw(settings);
  }

  void repaint(const DisplaySettings& settings) override {
    if (!frame_.empty()) draw(settings);
  }

 private:
  void draw(const DisplaySettings& settings) {
    if (!IsWindow(wnd_)) return;  // the host destroyed it meanwhile
    PixelRect src{0, 0, width_, height_};
    const PixelRect& r = settings.region;
    if (settings.regionEnabled && r.left >= 0 && r.top >= 0 && r.right <= width_ &&
        r.bottom <= height_ && r.width() > 0 && r.height() > 0)
      src = r;
    pixels_.resize(static_cast<std::size_t>(src.width()) * src.height());
    renderXrgb(frame_.data(), width_, height_, src, settings.color, pixels_.data());

    BITMAPINFO bi;
    std::memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = src.width();
    bi.bmiHeader.biHeight = -src.height();  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;

    RECT client;
    if (!GetClientRect(wnd_, &client)) return;
    HDC dc = GetDC(wnd_);
    if (!dc) return;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, 0, client.right - client.left, client.bottom - client.top, 0, 0,
                  src.width(), src.height(), pixels_.data(), &bi, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(wnd_, dc);
  }

  HWND wnd_;
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint32_t> pixels_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace

std::unique_ptr<Painter> createPainter(void* wnd) {
  HWND h = static_cast<HWND>(wnd);
  if (!h || !IsWindow(h)) return nullptr;
  return std::unique_ptr<Painter>(new GdiPainter(h));
}

// At process exit Windows ends all other threads before it tells the DLLs,
// so nothing here may wait for them (a thread ended while holding a port's
// lock would never release it). The display threads are simply ended with
// the process.
void installExitHook(void (*)()) {}

}  // namespace vdplay
