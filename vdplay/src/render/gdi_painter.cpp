// Painting frames into a Windows window with GDI.
#include <windows.h>

#include <cstring>
#include <vector>

#include "render/painter.h"

namespace vdplay {
namespace {

class GdiPainter final : public FramePainter {
 public:
  explicit GdiPainter(HWND wnd) : wnd_(wnd) {}

 private:
  void draw(const DisplaySettings& settings) override {
    if (!IsWindow(wnd_)) return;  // the host destroyed it meanwhile
    const PixelRect src = renderShownPart(settings);

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
                  src.width(), src.height(), shownPixels(), &bi, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(wnd_, dc);
  }

  HWND wnd_;
};

}  // namespace

std::unique_ptr<Painter> createPainter(void* wnd) {
  HWND h = static_cast<HWND>(wnd);
  if (!h || !IsWindow(h)) return nullptr;
  return std::unique_ptr<Painter>(new GdiPainter(h));
}

}  // namespace vdplay
