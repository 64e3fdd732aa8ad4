// Thin lines and small convex shapes painted straight into a canvas's pixels.
//
// The enemy pool draws hundreds of outlines and, with its link webs, up to
// thousands of lines a frame. Stroked through the canvas's vector path each
// line costs several microseconds (a dense web took over 100 ms a frame), so
// the pool paints its 1- and 2-pixel pens here instead: a line costs about as
// many steps as it has visible pixels. The pixels match the canvas's own
// unantialiased drawing closely (both ends of a line are painted; a 2-pixel
// pen is two pixels across).
#pragma once

#include <cstdint>

class Canvas;

class PixelPainter {
 public:
  // Finishes any drawing pending on the canvas; the canvas must outlive the painter
  // and must not be drawn on through its own calls while the painter paints.
  explicit PixelPainter(Canvas& canvas);

  void SetPen(uint32_t color, int width);  // 0x00BBGGRR, width 1 or 2
  void Line(int x0, int y0, int x1, int y1);
  // Lines through points[0..n-1], given as x, y pairs.
  void Polyline(const int* xy, int n);
  // A convex polygon filled and outlined in the pen colour.
  void FillConvex(const int* xy, int n);

 private:
  void Plot(int x, int y, bool x_major);

  uint32_t* px_ = nullptr;
  int stride_ = 0;  // in pixels
  int w_ = 0, h_ = 0;
  uint32_t native_ = 0;  // 0x00RRGGBB
  int width_ = 1;
};
