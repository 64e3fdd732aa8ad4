#include "effects/log.h"

#include "platform/text.h"
#include "state/game.h"

namespace {

constexpr int kMemoWidth = 546;

struct NamedCode {
  const char* name;
  int code;
};
constexpr NamedCode kCodes[] = {
    {"green", 301},  {"yellow", 302},  {"blue", 303},   {"pink", 304},    {"purple", 305},
    {"aqua", 306},   {"red", 307},     {"yellow2", 308}, {"orange", 309}, {"pink2", 310},
    {"rainbow", 312}, {"gray", 313},   {"green2", 314}, {"red2", 315},    {"silver", 316},
    {"red3", 317},   {"orange2", 318}, {"big", 319},    {"white", 320},
};

// Pulsing colours of period 10: values for m = 0, 1/9, 2/8, 3/7, 4/6, 5.
uint32_t Pulse10(const uint32_t (&v)[6], int m) { return v[m <= 5 ? m : 10 - m]; }

// Returns true and sets colour when the code picks a colour.
bool CodeColour(int code, int m10, int m8, int m12, uint32_t& colour) {
  static constexpr uint32_t c2[6] = {0x0000AA, 0x000099, 0x000088, 0x000077, 0x000066, 0x000055};
  static constexpr uint32_t c301[6] = {0x12EA00, 0x10DB00, 0x0FBF00, 0x0EB500, 0x0DB500, 0x0CB500};
  static constexpr uint32_t c302[6] = {0x00E8FF, 0x00D8E8, 0x02C4DF, 0x02ADDF, 0x029DDF, 0x0287DF};
  static constexpr uint32_t c303[6] = {0xF8EC7E, 0xF7E864, 0xF5E44E, 0xF3E034, 0xF1DC1F, 0xE8D20F};
  static constexpr uint32_t c304[6] = {0xB55AFF, 0xA54AFF, 0x9B37FF, 0x8A15FF, 0x7900FB, 0x6600E3};
  static constexpr uint32_t c305[6] = {0xFF3C9D, 0xFF178B, 0xF7007B, 0xD90268, 0xBF0058, 0xA81F42};
  static constexpr uint32_t c307[6] = {0x4646FF, 0x2626FF, 0x0606FF, 0x0000D9, 0x0000C4, 0x0000B5};
  static constexpr uint32_t c308[6] = {0x88DDDD, 0x77CCCC, 0x66BBBB, 0x55AAAA, 0x559999, 0x558888};
  static constexpr uint32_t c309[6] = {0x464699, 0x262688, 0x060677, 0x000066, 0x000055, 0x000044};
  static constexpr uint32_t c318[6] = {0x6688EE, 0x6080E0, 0x5979C9, 0x5070C0, 0x4969B9, 0x4060B0};
  static constexpr uint32_t c310[5] = {0xDDCCFF, 0xCCBBFF, 0xBBAAEE, 0xAA99DD, 0x9988CC};
  static constexpr uint32_t c312[12] = {0x0000FF, 0x0099FF, 0x00FFFF, 0x00FF99, 0x00FF00, 0x99FF00,
                                        0xFFFF00, 0xFF9900, 0xFF0000, 0xFF0099, 0xFF00FF, 0x9900FF};
  switch (code) {
    case 0: colour = 0xFFFFFF; return true;
    case 2: colour = Pulse10(c2, m10); return true;
    case 301: colour = Pulse10(c301, m10); return true;
    case 302: colour = Pulse10(c302, m10); return true;
    case 303:
    case 306: colour = Pulse10(c303, m10); return true;
    case 304: colour = Pulse10(c304, m10); return true;
    case 305: colour = Pulse10(c305, m10); return true;
    case 307: colour = Pulse10(c307, m10); return true;
    case 308: colour = Pulse10(c308, m10); return true;
    case 309: colour = Pulse10(c309, m10); return true;
    case 310: colour = c310[m8 <= 4 ? m8 : 8 - m8]; return true;
    case 312: colour = c312[m12]; return true;
    case 313: colour = 0x666666; return true;
    case 314: colour = 0x66CC66; return true;
    case 315: colour = 0x000099; return true;
    case 316: colour = 0x999999; return true;
    case 317: colour = 0x6666FF; return true;
    case 318: colour = Pulse10(c318, m10); return true;
    case 319:
    case 320: colour = 0xEEEEEE; return true;
    default: return false;
  }
}


}  // namespace

int LogColourCode(const std::string& colour_name) {
  int code = 4;
  for (const NamedCode& c : kCodes)
    if (colour_name == c.name) code = c.code;
  return code;
}

std::vector<std::string> WrapMemo(Game& g, const std::string& text, int font_size) {
  Canvas& m = *g.memo;
  m.SetFontSize(font_size);
  m.SetFontBold(true);
  std::vector<std::string> lines;
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      ++i;
      continue;
    }
    size_t n = text::Utf8SequenceLength(text, i);
    std::string next = line + text.substr(i, n);
    if (!line.empty() && m.TextWidth(next) > kMemoWidth) {
      // Break at the last blank of the line when there is one, else before this character.
      size_t sp = line.find_last_of(' ');
      if (sp != std::string::npos && sp + 1 < line.size() && text[i] != ' ') {
        lines.push_back(line.substr(0, sp + 1));
        line = line.substr(sp + 1);
      } else {
        lines.push_back(line);
        line.clear();
        if (text[i] == ' ') {  // a blank at the break point is swallowed
          i += n;
          continue;
        }
      }
      continue;
    }
    line = std::move(next);
    i += n;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

void AddLogLine(Game& g, const std::string& text, const std::string& colour_name) {
  int font_size = colour_name == "big" ? 25 : 12;
  int code = LogColourCode(colour_name);
  std::vector<std::string> lines = WrapMemo(g, text, font_size);
  if (g.log.count > 13) {
    g.log.count = 0;
    ClearLog(g);
  }
  if (lines.size() < 2) {
    if (g.log.count >= 0 && g.log.count < kLogRecords) g.log.records[size_t(g.log.count)] = {text, code};
    g.log.count += 1;
  } else {
    for (const std::string& l : lines) {
      if (g.log.count >= 0 && g.log.count < kLogRecords) g.log.records[size_t(g.log.count)] = {l, code};
      g.log.count += 1;
    }
  }
}

void AddSilverLogLine(Game& g, const std::string& text) { AddLogLine(g, text, "silver"); }

void ClearLog(Game& g) {
  if (g.run.closing_mark == -1) return;
  for (int i = 0; i < 20; ++i) g.log.records[size_t(i)] = LogRecord{};
}

void DrawLog(Game& g) {
  Canvas& c = *g.cg;
  for (int i = 0; i < 15; ++i) {
    const LogRecord& r = g.log.records[size_t(i)];
    if (r.text.empty()) continue;
    c.SetBrush(0x000000);
    c.SetFontBold(true);
    c.SetFontSize(12);
    int m10 = (g.run.frame_no + i) % 10, m8 = (g.run.frame_no + i) % 8, m12 = (g.run.frame_no + i) % 12;
    uint32_t colour;
    if (CodeColour(r.code, m10, m8, m12, colour)) c.SetFontColor(colour);
    if (r.code == 319) c.SetFontSize(25);
    c.TextOut(10, 250 + 30 * i, r.text);
    c.SetFontSize(10);
  }
}
