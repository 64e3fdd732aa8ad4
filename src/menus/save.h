// The save file dat/my.dat: 24 CP932 lines, CR LF.
#pragma once

#include <string>

struct Game;

// Reads the save file; a missing file gets the defaults and is written at once.
// A damaged file is read as far as it parses and kept as my.dat.bad.
void LoadSave(Game& g);
// Writes the save file atomically; false (with g.save.error set) on failure.
bool WriteSave(Game& g);
// The save defaults, then the new-game reset. Does not write the file.
void ResetSaveValues(Game& g);
// The reset the player asks for on the title picture: the file as it is on
// disk is first kept byte for byte as my.dat.old (written atomically, like the
// save), then the defaults are set and written. When the old file cannot be
// kept nothing is reset: false, with the reason in *error.
bool ResetSaveKeepingOld(Game& g, std::string* error);
// Where ResetSaveKeepingOld keeps the previous file.
std::string OldSavePath(const Game& g);
// Writes the file when any saved value changed since it was last written.
void SaveIfChanged(Game& g);

// The 24 lines as UTF-8 text (joined by "\r\n", each line ended), and the parser.
std::string SaveText(Game& g);
// Parses CP932 bytes into the saved fields; returns false when anything in the
// file was malformed (what parses is kept, the rest reads as 0 or empty).
bool ParseSave(Game& g, const std::string& bytes);
