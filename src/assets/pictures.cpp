#include "assets/pictures.h"

#include <fstream>
#include <sstream>

#include "effects/log.h"
#include "platform/picture_file.h"
#include "platform/text.h"
#include "state/game.h"

void ShowPicture(Game& g, const std::string& file) {
  Picture p;
  if (!DecodePicture(CgPath(g, file), p)) return;
  if (!g.bitmaps[0]) g.bitmaps[0] = std::make_unique<Canvas>(640, 480, g.pf.fonts);
  Canvas& b = *g.bitmaps[0];
  uint8_t* d = b.MutableData();
  int stride = b.Stride();
  for (int y = 0; y < p.height && y < b.Height(); ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(d + y * stride);
    for (int x = 0; x < p.width && x < b.Width(); ++x) row[x] = p.pixels[size_t(y) * p.width + x];
  }
  g.run.backdrop_on = 1;
}

void LoadStoryMessages(Game& g, const std::string& file) {
  ClearLog(g);
  g.run.story.clear();
  std::ifstream in(DatPath(g, file), std::ios::binary);
  if (in) {
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find_first_of("\r\n", start);
      if (end == std::string::npos) end = all.size();
      g.run.story.push_back(text::Cp932ToUtf8Lossy(all.substr(start, end - start), text::kReplacementCharacter));
      if (end < all.size() && all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ++end;
      start = end + 1;
    }
  }
  g.log.count = 0;
  g.run.story_index = 0;
  g.run.story_on = 1;
}

bool CreateBitmapTable(Game& g) {
  std::string path = CgPath(g, "title.bmp");
  auto b0 = std::make_unique<Canvas>(640, 480, g.pf.fonts);
  auto b6 = std::make_unique<Canvas>(640, 480, g.pf.fonts);
  if (!LoadPicture(*b0, path) || !LoadPicture(*b6, path)) return false;
  g.bitmaps[0] = std::move(b0);
  g.bitmaps[6] = std::move(b6);
  return true;
}
