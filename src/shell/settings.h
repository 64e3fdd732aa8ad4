// The player's settings file, settings.txt beside the save: for now only
// whether the music plays. Written whole and atomically on every change; a
// missing file means the defaults, and so does a damaged one (with a line on
// stderr and a notice over the field), never a failed start.
//
//   # K.V. settings
//   music=on            (or off)
//
// Blank lines and # comments are allowed; unknown names are left for newer
// versions and skipped.
#pragma once

#include <string>

struct Game;
struct Settings;
class Canvas;

inline constexpr int kKeyMusic = 'M';
// Larger than this is no settings file.
inline constexpr size_t kSettingsMaxBytes = 4096;

std::string SettingsPath(const Game& g);
// false with the reason (and its line) when the text is not a settings file;
// `out` is only changed when it is one.
bool ParseSettings(const std::string& text, Settings& out, std::string* why);
std::string FormatSettings(const Settings& s);

// At start: reads the file and hands the music setting to the audio.
void LoadSettings(Game& g);
// M: the music off, or on again; the choice is written at once.
void ToggleMusic(Game& g);
// The notice of the last change, for a couple of seconds after it.
void DrawSettingsNotice(Game& g, Canvas& screen);
