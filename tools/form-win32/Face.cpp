#include "tools/form-win32/Face.h"

#include <cmath>
#include <initializer_list>
#include <vector>

namespace vizadavu::form {
namespace {

constexpr int kScale = 4;
constexpr int kSize = 32 * kScale;

POINT At(double x, double y) {
  return {static_cast<LONG>(std::lround(x * kScale)), static_cast<LONG>(std::lround(y * kScale))};
}

// Selects a pen and a brush for one shape and puts the old ones back after it.
class Ink {
 public:
  Ink(HDC dc, COLORREF line, double width, COLORREF fill, bool filled = true) : dc_(dc) {
    LOGBRUSH brush{BS_SOLID, line, 0};
    pen_ = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
                        static_cast<DWORD>(std::lround(width * kScale)), &brush, 0, nullptr);
    brush_ = filled ? CreateSolidBrush(fill) : static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    oldPen_ = SelectObject(dc_, pen_);
    oldBrush_ = SelectObject(dc_, brush_);
    filled_ = filled;
  }
  ~Ink() {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    DeleteObject(pen_);
    if (filled_) DeleteObject(brush_);
  }
  Ink(const Ink&) = delete;
  Ink& operator=(const Ink&) = delete;

 private:
  HDC dc_;
  HPEN pen_;
  HBRUSH brush_;
  HGDIOBJ oldPen_;
  HGDIOBJ oldBrush_;
  bool filled_;
};

void Shape(HDC dc, std::initializer_list<POINT> points) {
  const std::vector<POINT> p(points);
  Polygon(dc, p.data(), static_cast<int>(p.size()));
}

void Line(HDC dc, std::initializer_list<POINT> points) {
  const std::vector<POINT> p(points);
  Polyline(dc, p.data(), static_cast<int>(p.size()));
}

void Rect(HDC dc, double left, double top, double width, double height) {
  const POINT a = At(left, top);
  const POINT b = At(left + width, top + height);
  Rectangle(dc, a.x, a.y, b.x, b.y);
}

COLORREF BadgeColour(Phase phase) {
  switch (phase) {
    case Phase::Idle:
      return RGB(0x2f, 0x6f, 0xb2);
    case Phase::Pausing:
    case Phase::Sending:
      return RGB(0xd0, 0x8a, 0x10);
    case Phase::Receiving:
      return RGB(0x1f, 0x8f, 0xa8);
    case Phase::Done:
      return RGB(0x2e, 0x8b, 0x57);
    case Phase::Failed:
      break;
  }
  return RGB(0xc0, 0x39, 0x2b);
}

// The face: a form sheet with a folded corner and three fields, and a round
// badge whose colour and sign tell the phase, in a 32 x 32 design space.
void Draw(HDC dc, Phase phase) {
  const COLORREF ink = RGB(0x3a, 0x48, 0x5c);
  {
    Ink sheet(dc, ink, 1.0, RGB(0xfb, 0xfb, 0xf6));
    Shape(dc, {At(4.5, 1.5), At(19.5, 1.5), At(25.5, 7.5), At(25.5, 29.5), At(4.5, 29.5)});
  }
  {
    Ink fold(dc, ink, 1.0, RGB(0xd5, 0xdc, 0xe6));
    Shape(dc, {At(19.5, 1.5), At(19.5, 7.5), At(25.5, 7.5)});
  }
  const COLORREF field = RGB(0x8a, 0x96, 0xa8);
  for (int i = 0; i < 3; ++i) {
    const double y = 10.5 + i * 5.5;
    {
      Ink label(dc, field, 0.1, field);
      Rect(dc, 7.0, y + 0.5, 3.5, 2.0);
    }
    Ink box(dc, field, 0.8, RGB(0xff, 0xff, 0xff));
    Rect(dc, 12.0, y - 0.5, 10.5, 3.5);
  }
  {
    Ink badge(dc, RGB(0xff, 0xff, 0xff), 1.5, BadgeColour(phase));
    const POINT a = At(17.0, 17.0);
    const POINT b = At(31.0, 31.0);
    Ellipse(dc, a.x, a.y, b.x, b.y);
  }
  Ink sign(dc, RGB(0xff, 0xff, 0xff), 1.8, 0, false);
  switch (phase) {
    case Phase::Idle:  // send: an arrow to the right
      Line(dc, {At(20.5, 24.0), At(27.5, 24.0)});
      Line(dc, {At(24.5, 21.0), At(27.5, 24.0), At(24.5, 27.0)});
      break;
    case Phase::Pausing:  // waiting: clock hands
      Line(dc, {At(24.0, 20.0), At(24.0, 24.0), At(27.0, 24.0)});
      break;
    case Phase::Sending:  // up
      Line(dc, {At(24.0, 27.5), At(24.0, 20.5)});
      Line(dc, {At(21.0, 23.5), At(24.0, 20.5), At(27.0, 23.5)});
      break;
    case Phase::Receiving:  // down
      Line(dc, {At(24.0, 20.5), At(24.0, 27.5)});
      Line(dc, {At(21.0, 24.5), At(24.0, 27.5), At(27.0, 24.5)});
      break;
    case Phase::Done:  // a check mark
      Line(dc, {At(20.8, 24.2), At(23.2, 26.6), At(27.4, 21.4)});
      break;
    case Phase::Failed:  // a cross
      Line(dc, {At(21.3, 21.3), At(26.7, 26.7)});
      Line(dc, {At(26.7, 21.3), At(21.3, 26.7)});
      break;
  }
}

}  // namespace

void DrawFace(HDC dc, int x, int y, Phase phase) {
  const HDC large = CreateCompatibleDC(dc);
  const HBITMAP bitmap = CreateCompatibleBitmap(dc, kSize, kSize);
  if (large == nullptr || bitmap == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (large != nullptr) DeleteDC(large);
    return;
  }
  const HGDIOBJ old = SelectObject(large, bitmap);
  // The background is the window's, so the scaled edges blend into it.
  RECT all{0, 0, kSize, kSize};
  FillRect(large, &all, GetSysColorBrush(COLOR_BTNFACE));
  Draw(large, phase);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, x, y, 32, 32, large, 0, 0, kSize, kSize, SRCCOPY);
  SelectObject(large, old);
  DeleteObject(bitmap);
  DeleteDC(large);
}

}  // namespace vizadavu::form
