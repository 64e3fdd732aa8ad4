// A GDI-like drawing surface: 640 x 480 (or any size) 24-bit pixels, a pen, a
// brush and a font, drawn without antialiasing for shapes so pictures are exact.
// Colours are 0x00BBGGRR values (red in the low byte), as the game uses them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FontSet;

struct TextSize {
  int width = 0;
  int height = 0;
};

class Canvas {
 public:
  // fonts may be null: text is then measured and drawn as nothing.
  Canvas(int width, int height, std::shared_ptr<FontSet> fonts);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int Width() const;
  int Height() const;

  // Pen: colour, width; lines have round caps so a zero-length wide line is a dot.
  void SetPen(uint32_t color, int width = 1);
  void SetPenColor(uint32_t color);
  void SetPenWidth(int width);
  uint32_t PenColor() const;
  int PenWidth() const;

  // Brush: colour and style (solid fills shapes and text boxes; clear does not).
  void SetBrush(uint32_t color);
  void SetBrushColor(uint32_t color);
  void SetBrushSolid(bool solid);
  bool BrushSolid() const;

  // Font: size in points at 96 DPI, style and colour.
  void SetFontSize(int points);
  void SetFontBold(bool bold);
  void SetFontItalic(bool italic);
  void SetFontColor(uint32_t color);
  int FontSize() const;
  uint32_t FontColor() const;

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Polyline(const int* xy, int points);
  // Rectangle from (x1, y1) to (x2, y2), right and bottom edges exclusive as in GDI:
  // outline with the pen, inside with the brush when it is solid.
  void Rectangle(int x1, int y1, int x2, int y2);
  // Filled rectangle with the brush, no outline.
  void FillRect(int x1, int y1, int x2, int y2, uint32_t color);
  // Ellipse in the bounding box (x1, y1)..(x2, y2).
  void Ellipse(int x1, int y1, int x2, int y2);
  // Filled polygon in the pen colour (outline and inside): stands in for a flood fill.
  void FillPolygon(const int* xy, int points);

  // Text with its top-left corner at (x, y). Opaque when the brush is solid
  // (the brush colour fills the text box), transparent when it is clear.
  void TextOut(int x, int y, const std::string& utf8);
  TextSize MeasureText(const std::string& utf8);
  int TextWidth(const std::string& utf8) { return MeasureText(utf8).width; }
  int TextHeight(const std::string& utf8) { return MeasureText(utf8).height; }

  // Copy a w x h block from src (may be this canvas) at (sx, sy) to (dx, dy).
  void CopyFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy);
  // Bitwise OR of src's pixels onto this canvas at (dx, dy).
  void OrFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy);
  // The whole of src (the same size) OR-ed onto this canvas, leaving src
  // black: what OrFrom and src.Clear(0) do, but the parts of src that hold
  // nothing are only read.
  void OrFromAndClear(Canvas& src);
  // Fill the whole surface with one colour.
  void Clear(uint32_t color);

  // Pixel access (0x00BBGGRR); outside the surface reads 0 and writes nothing.
  uint32_t GetPixel(int x, int y) const;
  void SetPixel(int x, int y, uint32_t color);

  // Raw pixels: rows of Width() 32-bit words 0x00RRGGBB, Stride() bytes apart.
  const uint8_t* Data() const;
  uint8_t* MutableData();
  int Stride() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The fonts text is drawn in: one regular face; bold and italic are synthesised.
class FontSet {
 public:
  // Loads the font file; on failure the set is empty and text draws nothing.
  explicit FontSet(const std::string& font_path);
  ~FontSet();
  bool Ok() const;
  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

// Colour helpers for 0x00BBGGRR values.
constexpr uint32_t RGB(int r, int g, int b) {
  return uint32_t(r & 255) | (uint32_t(g & 255) << 8) | (uint32_t(b & 255) << 16);
}
constexpr int RedOf(uint32_t c) { return int(c & 255); }
constexpr int GreenOf(uint32_t c) { return int((c >> 8) & 255); }
constexpr int BlueOf(uint32_t c) { return int((c >> 16) & 255); }
