// Painting: update regions, the paint pump's WM_PAINT order, device contexts
// on the dialog's canvas, the few GDI calls the dialog makes, and how the
// built-in controls look.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/headless/window_system.h"

namespace headless {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

constexpr Rgb kButtonFace{240, 240, 240};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kShadow{160, 160, 160};
constexpr Rgb kButtonBorder{112, 112, 112};
constexpr Rgb kEditBorder{122, 122, 122};
constexpr Rgb kPressedFace{218, 218, 218};
constexpr Rgb kChannelFill{231, 234, 234};
constexpr Rgb kChannelBorder{214, 214, 214};
constexpr Rgb kThumb{0, 120, 215};

// System colours by COLOR_* index, as a default Windows theme has them.
bool SystemColour(int index, Rgb* colour) {
  switch (index) {
    case 5: *colour = kWhite; return true;                 // COLOR_WINDOW
    case 6: *colour = Rgb{100, 100, 100}; return true;     // COLOR_WINDOWFRAME
    case 8: *colour = kBlack; return true;                 // COLOR_WINDOWTEXT
    case COLOR_BTNFACE: *colour = kButtonFace; return true;
    case 16: *colour = kShadow; return true;               // COLOR_BTNSHADOW
    case 17: *colour = Rgb{109, 109, 109}; return true;    // COLOR_GRAYTEXT
    case 18: *colour = kBlack; return true;                // COLOR_BTNTEXT
    case 20: *colour = kWhite; return true;                // COLOR_BTNHIGHLIGHT
    case 21: *colour = Rgb{105, 105, 105}; return true;    // COLOR_3DDKSHADOW
    case 22: *colour = Rgb{227, 227, 227}; return true;    // COLOR_3DLIGHT
    default: return false;
  }
}

constexpr uintptr_t kBrushBase = 0x40000;

// FillRect also takes a colour index plus one as its brush.
bool BrushColour(HBRUSH brush, Rgb* colour) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(brush);
  if (value >= kBrushBase && value < kBrushBase + 32) return SystemColour(int(value - kBrushBase), colour);
  if (value >= 1 && value <= 32) return SystemColour(int(value - 1), colour);
  return false;
}

RECT Offset(RECT r, int dx, int dy) { return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

RECT Union(const RECT& a, const RECT& b) {
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

// Pixels within a clip rectangle of an RGB buffer.
struct Surface {
  uint8_t* rgb;
  int width, height;
  RECT clip;

  Surface(uint8_t* pixels, int w, int h, const RECT& limit)
      : rgb(pixels), width(w), height(h), clip(Intersect(limit, RECT{0, 0, w, h})) {}

  void Put(int x, int y, Rgb c) const {
    if (!rgb || !Contains(clip, x, y)) return;
    uint8_t* p = rgb + (size_t(y) * width + x) * 3;
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  void Fill(const RECT& r, Rgb c) const {
    const RECT area = Intersect(r, clip);
    for (LONG y = area.top; y < area.bottom; ++y)
      for (LONG x = area.left; x < area.right; ++x) Put(x, y, c);
  }
  void Frame(const RECT& r, Rgb c) const {
    Fill(RECT{r.left, r.top, r.right, r.top + 1}, c);
    Fill(RECT{r.left, r.bottom - 1, r.right, r.bottom}, c);
    Fill(RECT{r.left, r.top, r.left + 1, r.bottom}, c);
    Fill(RECT{r.right - 1, r.top, r.right, r.bottom}, c);
  }
  void Text(const std::string& text, int x, int y, Rgb c) const {
    for (char ch : text) {
      const GlyphShape glyph = Glyph(ch);
      for (int col = 0; col < glyph.width; ++col)
        for (int row = 0; row < kGlyphHeight; ++row)
          if (glyph.columns[col] & (1u << row)) Put(x + col, y + row, c);
      x += glyph.advance;
    }
  }
};

// "&Cancel" shows as "Cancel"; "&&" is one ampersand.
std::string WithoutMnemonics(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      shown.push_back(text[i]);
    } else if (i + 1 < text.size()) {
      shown.push_back(text[++i]);
    }
  }
  return shown;
}

// Greedy word wrap at spaces.
std::vector<std::string> Wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  std::string line, word;
  auto flushWord = [&] {
    if (word.empty()) return;
    if (!line.empty() && TextWidth(line + " " + word) > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    word.clear();
  };
  for (char c : text) {
    if (c == ' ' || c == '\n') {
      flushWord();
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      }
    } else {
      word.push_back(c);
    }
  }
  flushWord();
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void DrawButton(const Window& c, const Surface& s) {
  const RECT r = c.rect;
  const int height = r.bottom - r.top;
  const std::string text = WithoutMnemonics(c.text);
  const uint32_t type = c.style & 0xF;
  if (type == 2 || type == BS_AUTOCHECKBOX) {
    s.Fill(r, kButtonFace);
    const int top = r.top + (height - 13) / 2;
    const RECT box{r.left, top, r.left + 13, top + 13};
    s.Fill(box, kWhite);
    s.Frame(box, Rgb{51, 51, 51});
    if (c.check == BST_CHECKED) {
      // A tick: down to the lower third, then up to the right.
      for (int i = 0; i < 3; ++i) {
        s.Put(box.left + 3 + i, box.top + 6 + i, kBlack);
        s.Put(box.left + 3 + i, box.top + 7 + i, kBlack);
      }
      for (int i = 0; i < 5; ++i) {
        s.Put(box.left + 6 + i, box.top + 7 - i, kBlack);
        s.Put(box.left + 6 + i, box.top + 8 - i, kBlack);
      }
    }
    s.Text(text, r.left + kCheckBoxTextOffset, r.top + (height - kGlyphHeight) / 2, kBlack);
    return;
  }
  s.Fill(r, c.pressed ? kPressedFace : kButtonFace);
  s.Frame(r, kButtonBorder);
  if (type == BS_DEFPUSHBUTTON) s.Frame(RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, kButtonBorder);
  const int width = r.right - r.left;
  s.Text(text, r.left + (width - TextWidth(text)) / 2, r.top + (height - kGlyphHeight) / 2, kBlack);
}

void DrawEdit(const Window& c, const Surface& s) {
  const RECT r = c.rect;
  s.Fill(r, kWhite);
  s.Frame(r, kEditBorder);
  Surface inside(s.rgb, s.width, s.height,
                 Intersect(s.clip, RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}));
  inside.Text(c.text, r.left + 3, r.top + (r.bottom - r.top - kGlyphHeight) / 2, kBlack);
}

void DrawStatic(const Window& c, const Surface& s) {
  const RECT r = c.rect;
  s.Fill(r, kButtonFace);
  const bool centred = (c.style & 0x3) == SS_CENTER;
  // Wrapped only where there is room for a second line; a one-line label
  // is drawn whole (the glyphs are sized so that the template's labels fit).
  const std::string text = WithoutMnemonics(c.text);
  const bool oneLine = r.bottom - r.top < 2 * kLineHeight;
  int y = r.top;
  for (const std::string& line : oneLine ? std::vector<std::string>{text} : Wrap(text, r.right - r.left)) {
    const int x = centred ? r.left + (r.right - r.left - TextWidth(line)) / 2 : r.left;
    s.Text(line, x, y + (kLineHeight - kGlyphHeight) / 2, kBlack);
    y += kLineHeight;
  }
}

void DrawTrackbar(const Window& c, const Surface& s) {
  const RECT r = c.rect;
  s.Fill(r, kButtonFace);
  const int middle = (r.top + r.bottom) / 2;
  const RECT channel{r.left + 8, middle - 2, std::max(r.left + 9, int(r.right) - 8), middle + 2};
  s.Fill(channel, kChannelFill);
  s.Frame(channel, kChannelBorder);
  const int span = channel.right - channel.left - 1;
  const int range = c.rangeMax - c.rangeMin;
  const int x = channel.left + (range > 0 ? int(int64_t(c.position - c.rangeMin) * span / range) : 0);
  const int half = std::min(10, (r.bottom - r.top) / 2 - 2);
  s.Fill(RECT{x - 5, middle - half, x + 6, middle + half}, kThumb);
}

DeviceContext* FindDc(HDC dc) {
  for (const auto& d : State().dcs)
    if (reinterpret_cast<HDC>(d.get()) == dc) return d.get();
  return nullptr;
}

void ReleaseDc(HDC dc) {
  auto& dcs = State().dcs;
  dcs.erase(std::remove_if(dcs.begin(), dcs.end(),
                           [dc](const std::unique_ptr<DeviceContext>& d) {
                             return reinterpret_cast<HDC>(d.get()) == dc;
                           }),
            dcs.end());
}

RECT CanvasBounds() { return RECT{0, 0, State().canvasWidth, State().canvasHeight}; }

HDC NewDc(const Window& w, const RECT& clip) {
  System& s = State();
  auto dc = std::make_unique<DeviceContext>();
  const RECT client = ClientRectOnCanvas(w);
  dc->canvas.magic = kHeadlessCanvasMagic;
  dc->canvas.width = s.canvasWidth;
  dc->canvas.height = s.canvasHeight;
  dc->canvas.stride = s.canvasWidth * 3;
  dc->canvas.rgb = s.canvas.empty() ? nullptr : s.canvas.data();
  dc->canvas.originX = client.left;
  dc->canvas.originY = client.top;
  dc->canvas.clip = Intersect(clip, CanvasBounds());
  dc->window = w.handle;
  s.dcs.push_back(std::move(dc));
  return reinterpret_cast<HDC>(s.dcs.back().get());
}

// Where a DC may draw: the window's client area on the canvas, and nowhere
// while the window is hidden.
RECT VisibleClientOnCanvas(const Window& w) {
  return IsEffectivelyVisible(w) ? Intersect(ClientRectOnCanvas(w), CanvasBounds()) : RECT{0, 0, 0, 0};
}

}  // namespace

void Invalidate(Window& w, const RECT* rect, bool erase) {
  // A hidden window has nothing on screen to repair; showing it invalidates
  // it completely.
  if (!IsEffectivelyVisible(w)) return;
  const RECT client{0, 0, ClientWidth(w), ClientHeight(w)};
  const RECT r = rect ? Intersect(*rect, client) : client;
  if (IsEmpty(r)) return;
  w.update = w.invalid ? Union(w.update, r) : r;
  w.invalid = true;
  w.erase = w.erase || erase;
  if (w.kind != Kind::kDialog) return;
  // The dialog does not clip its children, so they share its invalid area.
  for (HWND handle : State().controls) {
    Window* c = Find(handle);
    if (!c || c->parent != w.handle) continue;
    const RECT shared = Intersect(r, c->rect);
    if (IsEmpty(shared)) continue;
    const RECT local = Offset(shared, -c->rect.left, -c->rect.top);
    Invalidate(*c, &local, erase);
  }
}

void ResizeCanvas(int width, int height) {
  System& s = State();
  width = std::max(0, width);
  height = std::max(0, height);
  std::vector<uint8_t> canvas(size_t(width) * height * 3);
  for (size_t i = 0; i < canvas.size(); i += 3) {
    canvas[i] = kButtonFace.r;
    canvas[i + 1] = kButtonFace.g;
    canvas[i + 2] = kButtonFace.b;
  }
  const int keepWidth = std::min(width, s.canvasWidth), keepHeight = std::min(height, s.canvasHeight);
  for (int y = 0; y < keepHeight; ++y)
    std::memcpy(&canvas[size_t(y) * width * 3], &s.canvas[size_t(y) * s.canvasWidth * 3],
                size_t(keepWidth) * 3);
  s.canvas.swap(canvas);
  s.canvasWidth = width;
  s.canvasHeight = height;
  for (auto& dc : s.dcs) {
    dc->canvas.width = width;
    dc->canvas.height = height;
    dc->canvas.stride = width * 3;
    dc->canvas.rgb = s.canvas.empty() ? nullptr : s.canvas.data();
    dc->canvas.clip = Intersect(dc->canvas.clip, CanvasBounds());
  }
}

bool PaintNext() {
  System& s = State();
  if (!Find(s.dialog)) return false;
  std::vector<HWND> order{s.dialog};
  order.insert(order.end(), s.controls.begin(), s.controls.end());
  for (HWND handle : order) {
    Window* w = Find(handle);
    if (!w || !w->invalid || !IsEffectivelyVisible(*w)) continue;
    const int before = w->beginPaints;
    SendMessageA(handle, WM_PAINT, 0, 0);
    // A handler that never called BeginPaint would be asked again forever.
    if ((w = Find(handle)) && w->beginPaints == before) w->invalid = w->erase = false;
    return true;
  }
  return false;
}

void ReleaseAllDcs() { State().dcs.clear(); }

void DrawControl(const Window& c, uint8_t* rgb, int width, int height, RECT clip) {
  const Surface s(rgb, width, height, Intersect(clip, c.rect));
  switch (c.kind) {
    case Kind::kButton: DrawButton(c, s); break;
    case Kind::kEdit: DrawEdit(c, s); break;
    case Kind::kStatic: DrawStatic(c, s); break;
    case Kind::kTrackbar: DrawTrackbar(c, s); break;
    default: s.Fill(c.rect, kButtonFace); break;
  }
}

}  // namespace headless

using headless::Find;
using headless::Window;

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  Window* w = Find(window);
  if (!w) return FALSE;
  headless::Invalidate(*w, rect, erase != FALSE);
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  Window* w = Find(window);
  if (!w) return FALSE;
  std::vector<HWND> order{window};
  if (w->kind == headless::Kind::kDialog)
    order.insert(order.end(), headless::State().controls.begin(), headless::State().controls.end());
  for (HWND handle : order) {
    Window* target = Find(handle);
    if (target && target->invalid && headless::IsEffectivelyVisible(*target)) {
      const int before = target->beginPaints;
      SendMessageA(handle, WM_PAINT, 0, 0);
      if ((target = Find(handle)) && target->beginPaints == before) target->invalid = target->erase = false;
    }
  }
  return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  Window* w = Find(window);
  if (!w || !paint) return nullptr;
  // The update region is validated here, not in EndPaint: what the handler
  // invalidates while painting is painted again.
  const bool erase = w->invalid && w->erase;
  const RECT update = w->invalid ? w->update : RECT{0, 0, 0, 0};
  w->invalid = w->erase = false;
  ++w->beginPaints;
  const RECT onCanvas = headless::ClientRectOnCanvas(*w);
  const RECT clip = headless::Intersect(
      headless::Offset(update, onCanvas.left, onCanvas.top), headless::VisibleClientOnCanvas(*w));
  HDC dc = headless::NewDc(*w, clip);
  BOOL mustErase = FALSE;
  if (erase && SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0) mustErase = TRUE;
  std::memset(paint, 0, sizeof *paint);
  paint->hdc = dc;
  paint->fErase = mustErase;
  paint->rcPaint = update;
  return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  headless::ReleaseDc(paint->hdc);
  return Find(window) ? TRUE : FALSE;
}

HDC GetDC(HWND window) {
  Window* w = Find(window);
  if (!w) return nullptr;
  return headless::NewDc(*w, headless::VisibleClientOnCanvas(*w));
}

int ReleaseDC(HWND, HDC dc) {
  if (!headless::FindDc(dc)) return 0;
  headless::ReleaseDc(dc);
  return 1;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  headless::DeviceContext* d = headless::FindDc(dc);
  headless::Rgb colour{};
  if (!d || !rect || !headless::BrushColour(brush, &colour)) return 0;
  const HeadlessCanvas& c = d->canvas;
  const headless::Surface s(c.rgb, c.width, c.height, c.clip);
  s.Fill(headless::Offset(*rect, c.originX, c.originY), colour);
  return 1;
}

HBRUSH GetSysColorBrush(int index) {
  headless::Rgb colour{};
  if (!headless::SystemColour(index, &colour)) return nullptr;
  return reinterpret_cast<HBRUSH>(headless::kBrushBase + uintptr_t(index));
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 17;
    case 4:  // SM_CYCAPTION
      return headless::kCaptionHeight;
    case 32:  // SM_CXSIZEFRAME
    case 33:  // SM_CYSIZEFRAME
      return headless::kFrameBorder;
    default:
      return 0;
  }
}

BOOL DrawFrameControl(HDC dc, LPRECT rect, UINT type, UINT state) {
  headless::DeviceContext* d = headless::FindDc(dc);
  if (!d || !rect || type != DFC_SCROLL || !(state & DFCS_SCROLLSIZEGRIP)) return FALSE;
  const HeadlessCanvas& c = d->canvas;
  const headless::Surface s(c.rgb, c.width, c.height, c.clip);
  const RECT r = headless::Offset(*rect, c.originX, c.originY);
  s.Fill(r, headless::kButtonFace);
  // Three ridges along the diagonal of the corner: a light line, then two
  // shadow lines.
  for (LONG y = r.top; y < r.bottom; ++y) {
    for (LONG x = r.left; x < r.right; ++x) {
      const int distance = int(r.right - 1 - x) + int(r.bottom - 1 - y);
      if (distance < 1 || distance > 11 || distance % 4 == 0) continue;
      s.Put(x, y, distance % 4 == 1 ? headless::kWhite : headless::kShadow);
    }
  }
  return TRUE;
}
