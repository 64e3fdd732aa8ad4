// kv-assetgen GAME_DIR: draws the game's pictures into GAME_DIR/cg and writes
// its story texts into GAME_DIR/dat. Deterministic: the same files every run.
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "art.h"
#include "scenes.h"
#include "platform/canvas.h"
#include "platform/picture_file.h"
#include "platform/text.h"
#include "platform/files.h"

namespace {

bool WriteStory(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    auto cp = text::Utf8ToCp932(l);
    if (!cp) {
      std::fprintf(stderr, "kv-assetgen: line not representable in CP932: %s\n", l.c_str());
      return false;
    }
    text += *cp + "\r\n";
  }
  std::string err;
  if (!WriteFileAtomically(path, text, &err)) {
    std::fprintf(stderr, "kv-assetgen: %s\n", err.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kv-assetgen GAME_DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  if (!MakeDirectories(dir + "/cg") || !MakeDirectories(dir + "/dat")) {
    std::fprintf(stderr, "kv-assetgen: cannot create %s/cg and %s/dat\n", dir.c_str(), dir.c_str());
    return 1;
  }
  auto fonts = std::make_shared<FontSet>(dir + "/dat/ipagp.ttf");
  if (!fonts->Ok()) {
    std::fprintf(stderr, "kv-assetgen: font %s/dat/ipagp.ttf missing\n", dir.c_str());
    return 1;
  }

  for (const Scene& s : kScenes) {
    Canvas c(640, 480, fonts);
    DrawScene(c, s);
    std::string path = dir + "/cg/" + s.file;
    bool ok = path.size() > 4 && path.substr(path.size() - 4) == ".bmp" ? SaveBmp(c, path)
                                                                       : SaveJpeg(c, path, 90);
    if (!ok) {
      std::fprintf(stderr, "kv-assetgen: cannot write %s\n", path.c_str());
      return 1;
    }
  }

  // The desktop icon at the hicolor theme's sizes: the moon over the neon
  // floor, with the initials.
  if (!MakeDirectories(dir + "/icon")) return 1;
  for (int size : {16, 32, 64, 128, 256}) {
    Canvas big(256, 256, fonts);
    std::mt19937 rng(99);
    art::VerticalGradient(big, {10, 2, 30}, {60, 10, 70});
    art::Stars(big, rng, 60, 140);
    art::NeonGrid(big, 170, 128, {220, 60, 255});
    art::Moon(big, 128, 92, 58, {235, 230, 255});
    art::GlowText(big, "K.V.", 44, 128, 150, 0xFFEEFF, 0xCC33AA, true);
    Canvas icon(size, size, fonts);
    // Box-filter the 256 x 256 drawing down to the icon size.
    int f = 256 / size;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        int r = 0, gr = 0, b = 0;
        for (int dy = 0; dy < f; ++dy)
          for (int dx = 0; dx < f; ++dx) {
            uint32_t p = big.GetPixel(x * f + dx, y * f + dy);
            r += RedOf(p);
            gr += GreenOf(p);
            b += BlueOf(p);
          }
        icon.SetPixel(x, y, RGB(r / (f * f), gr / (f * f), b / (f * f)));
      }
    if (!SavePng(icon, dir + "/icon/kv-" + std::to_string(size) + ".png")) return 1;
    // The running window's own icon, beside the pictures it loads.
    if (size == 64 && !SaveBmp(icon, dir + "/cg/icon.bmp")) return 1;
  }

  bool ok = WriteStory(dir + "/dat/1.txt",
                       {"月の海の上、静かな航路が続いている。",
                        "……遠くで何かが目を覚ました。",
                        "識別信号なし。巨大な反応が接近中。",
                        "「ここから先は、通してくれないらしい」",
                        "照準を合わせろ。迷う時間はない。",
                        "月明かりが、敵の輪郭を浮かび上がらせる。",
                        "来るぞ。"}) &&
            WriteStory(dir + "/dat/2.txt",
                       {"最後の空域に到達した。",
                        "すべての航跡が、ここでひとつに収束する。",
                        "「K.V.」……その名の意味を、まだ誰も知らない。",
                        "中心核に高エネルギー反応。",
                        "撃ち抜け。これが最後の夜になる。",
                        "夜明けは、その向こうにある。",
                        "最終目標、出現。",
                        "……さあ、月を越えよう。"});
  return ok ? 0 : 1;
}
