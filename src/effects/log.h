// The message log: up to 15 wrapped, colour-pulsing lines over the field.
#pragma once

#include <string>
#include <vector>

struct Game;

void AddLogLine(Game& g, const std::string& text, const std::string& colour_name);
void AddSilverLogLine(Game& g, const std::string& text);
void ClearLog(Game& g);
void DrawLog(Game& g);

// The colour code of a colour name (4 for an unknown name).
int LogColourCode(const std::string& colour_name);
// Wraps text into the lines a 546-pixel memo shows at the given font size.
std::vector<std::string> WrapMemo(Game& g, const std::string& text, int font_size);
