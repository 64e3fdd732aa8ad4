// Small file helpers over the OS.
#pragma once

#include <optional>
#include <string>

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Whole regular file as bytes; nullopt when it cannot be opened or read, or
// is no regular file (a FIFO or device is never waited on).
std::optional<std::string> ReadWholeFile(const std::string& path);
// Reads at most `limit` bytes of a regular file, without ever blocking: the
// file is opened non-blocking and checked with fstat, so a FIFO, a device or a
// folder is refused, not waited on. `truncated` tells that the file is larger
// than `limit` (only the first `limit` bytes are in *bytes then).
enum class ReadStatus { kOk, kMissing, kNotRegular, kUnreadable };
ReadStatus ReadRegularFile(const std::string& path, size_t limit, std::string* bytes, bool* truncated,
                           std::string* error);
// Copies a regular file to `to` the way WriteFileAtomically writes, a piece
// at a time (the file may be large); the copy is byte for byte.
bool CopyFileAtomically(const std::string& from, const std::string& to, std::string* error);
// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`, so a crash leaves either the old file or the new one.
// On failure returns false with a reason in *error. `mode`: the new file's
// permissions (0600 for what only the player may read).
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error, unsigned mode = 0644);
// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);
// A fresh folder of its own, $TMPDIR/PREFIX.XXXXXX (/tmp without TMPDIR),
// removed with everything in it when the value goes: tools and tests leave
// nothing behind, also when they stop early. path() is empty when no folder
// could be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  // A new empty folder inside this one, "" when none could be made.
  std::string NewFolder();

 private:
  std::string path_;
  int made_ = 0;
};
// Folder of the running executable, without a trailing slash.
std::string ExecutableDir();

// True when files can be created in the folder.
bool DirectoryWritable(const std::string& path);
// The game folder (cg/ and dat/) of a program living in `exe_dir`: that folder
// itself when it holds cg/title.bmp (the build folder, or a game folder copied
// anywhere), else share/kv beside it (installed: PREFIX/bin/kv or
// PREFIX/games/kv with PREFIX/share/kv). When neither holds the title picture,
// `exe_dir`, so that the message about the missing picture names it.
struct GameFolder {
  std::string dir;
  bool installed = false;  // found as share/kv beside the program's folder
};
GameFolder FindGameFolder(const std::string& exe_dir);
// Where the save file, the local ranking and server.txt live: the game's own
// dat folder when it runs from its own writable folder, else (installed, or
// read-only) $XDG_DATA_HOME/kv (default ~/.local/share/kv), created on first
// use. An installed game never writes into its data folder, even as root.
std::string ChooseDataDir(const std::string& game_dir, bool installed = false);
