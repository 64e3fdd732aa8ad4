// Picture files: reading BMP and JPEG, writing a canvas as PNG, BMP or JPEG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"

// Decodes a BMP or JPEG file (by extension) into 0x00RRGGBB pixels.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row-major
};
bool DecodePicture(const std::string& path, Picture& out);

// Copies a picture file onto the canvas at (dx, dy); on failure the canvas is
// left as it was and the result is false.
bool LoadPicture(Canvas& c, const std::string& path, int dx = 0, int dy = 0);
bool SavePng(const Canvas& c, const std::string& path);
bool SaveBmp(const Canvas& c, const std::string& path);
bool SaveJpeg(const Canvas& c, const std::string& path, int quality = 90);
