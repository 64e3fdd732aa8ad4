// Whole-screen pictures through the backdrop bitmap, and story text files.
#pragma once

#include <string>

struct Game;

// Draws a picture from cg/ onto the backdrop (bitmap 0) and turns the backdrop
// on. A missing or unreadable picture changes nothing.
void ShowPicture(Game& g, const std::string& file);
// Loads a CP932 story file from dat/ into the story messages, one per line.
void LoadStoryMessages(Game& g, const std::string& file);
// Creates the bitmap table with the title picture in entries 0 and 6.
// Returns false when the title picture cannot be read.
bool CreateBitmapTable(Game& g);
