#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// Opens a regular file for reading without blocking on it; -1 with a reason otherwise.
int OpenRegular(const std::string& path, ReadStatus* status, std::string* error, struct stat* st) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    struct stat lst;
    if (e == ENOENT && ::lstat(path.c_str(), &lst) != 0) {
      *status = ReadStatus::kMissing;
    } else {
      *status = ReadStatus::kUnreadable;
      if (error) *error = e == ENOENT ? "a link to nothing" : std::strerror(e);
    }
    return -1;
  }
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    *status = ReadStatus::kNotRegular;
    if (error) *error = S_ISDIR(st->st_mode) ? "a folder, not a file" : "not a regular file";
    ::close(fd);
    return -1;
  }
  // Regular files never block; reads are plain from here on.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  *status = ReadStatus::kOk;
  return fd;
}

// Reads up to n bytes; -1 on an error.
ssize_t ReadSome(int fd, char* buf, size_t n) {
  for (;;) {
    ssize_t r = ::read(fd, buf, n);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

}  // namespace

ReadStatus ReadRegularFile(const std::string& path, size_t limit, std::string* bytes, bool* truncated,
                           std::string* error) {
  bytes->clear();
  *truncated = false;
  ReadStatus status;
  struct stat st;
  int fd = OpenRegular(path, &status, error, &st);
  if (fd < 0) return status;
  // One byte past the limit tells a file that is too large.
  bytes->resize(limit + 1);
  size_t got = 0;
  while (got < limit + 1) {
    ssize_t r = ReadSome(fd, bytes->data() + got, limit + 1 - got);
    if (r < 0) {
      if (error) *error = std::strerror(errno);
      ::close(fd);
      bytes->clear();
      return ReadStatus::kUnreadable;
    }
    if (r == 0) break;
    got += size_t(r);
  }
  ::close(fd);
  if (got > limit) {
    *truncated = true;
    got = limit;
  }
  bytes->resize(got);
  return ReadStatus::kOk;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  ReadStatus status;
  struct stat st;
  int fd = OpenRegular(path, &status, nullptr, &st);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t r = ReadSome(fd, buf, sizeof buf);
    if (r < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (r == 0) break;
    out.append(buf, size_t(r));
  }
  ::close(fd);
  return out;
}

bool CopyFileAtomically(const std::string& from, const std::string& to, std::string* error) {
  ReadStatus status;
  struct stat st;
  std::string why;
  int in = OpenRegular(from, &status, &why, &st);
  if (in < 0) {
    if (error) *error = from + ": " + (status == ReadStatus::kMissing ? "missing" : why);
    return false;
  }
  std::string tmp = to + ".tmp";
  int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    ::close(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t r = ReadSome(in, buf, sizeof buf);
    if (r == 0) break;
    if (r < 0) {
      if (error) *error = from + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < r && ok;) {
      ssize_t w = ::write(out, buf + done, size_t(r - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        if (error) *error = tmp + ": " + std::strerror(errno);
        ok = false;
      } else {
        done += w;
      }
    }
    if (!ok) break;
  }
  ::close(in);
  if (ok && (::fsync(out) != 0)) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    ok = false;
  }
  if (::close(out) != 0 && ok) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), to.c_str()) != 0) {
    if (error) *error = to + ": " + std::strerror(errno);
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error, unsigned mode) {
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
  // A temporary file left by an earlier crash keeps its mode through open.
  if (fd >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (fd < 0) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = tmp + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += size_t(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    if (error) *error = tmp + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  // Make the rename itself durable.
  std::string dir = path.substr(0, path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/'));
  if (dir.empty()) dir = ".";
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string cur;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    cur = path.substr(0, j);
    if (!cur.empty() && !DirectoryExists(cur)) ::mkdir(cur.c_str(), 0755);
    i = j + 1;
  }
  return DirectoryExists(path);
}

TempFolder::TempFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
}

std::string TempFolder::NewFolder() {
  if (path_.empty()) return "";
  const std::string dir = path_ + "/" + std::to_string(++made_);
  return ::mkdir(dir.c_str(), 0755) == 0 ? dir : "";
}

namespace {

// Lets the owner into every folder under `dir` again (a test may have locked
// one), so the whole tree can be removed.
void OpenFolders(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) OpenFolders(it->path());
  }
}

}  // namespace

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  if (std::filesystem::remove_all(path_, ec) == static_cast<std::uintmax_t>(-1) || ec) {
    OpenFolders(path_);
    std::filesystem::remove_all(path_, ec);
  }
}

std::string ExecutableDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p(buf);
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

bool DirectoryWritable(const std::string& path) {
  return DirectoryExists(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

GameFolder FindGameFolder(const std::string& exe_dir) {
  if (FileExists(exe_dir + "/cg/title.bmp")) return {exe_dir, false};
  const size_t slash = exe_dir.find_last_of('/');
  if (slash != std::string::npos) {
    // PREFIX/bin -> PREFIX/share/kv, spelt without "..".
    std::string shared = exe_dir.substr(0, slash) + "/share/kv";
    if (FileExists(shared + "/cg/title.bmp")) return {shared, true};
  }
  return {exe_dir, false};
}

std::string ChooseDataDir(const std::string& game_dir, bool installed) {
  std::string own = game_dir + "/dat";
  if (!installed && DirectoryWritable(own)) return own;
  std::string base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && home[0] ? home : "/tmp") + "/.local/share";
  }
  return base + "/kv";
}
