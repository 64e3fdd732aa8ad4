#include "ranking/key_file.h"

#include <cstdio>

#include "platform/files.h"
#include "state/game.h"

namespace {

constexpr unsigned kOwnerOnly = 0600;

std::shared_ptr<const PlayerKey> MakeKey(const std::string& path) {
  auto key = NewPlayerKey();
  if (!key) return nullptr;
  std::string err;
  if (!WriteFileAtomically(path, PlayerKeyFileText(*key), &err, kOwnerOnly)) {
    std::fprintf(stderr, "kv: cannot write the player key: %s\n", err.c_str());
    return nullptr;
  }
  return std::make_shared<const PlayerKey>(std::move(*key));
}

}  // namespace

std::string KeyPath(const Game& g) { return g.pf.data_dir + "/my.key"; }

std::shared_ptr<const PlayerKey> EnsurePlayerKey(Game& g) {
  if (g.ranking.key) return g.ranking.key;
  if (g.pf.data_dir.empty()) return nullptr;
  const std::string path = KeyPath(g);
  std::string bytes;
  bool truncated = false;
  std::string err;
  const ReadStatus read = ReadRegularFile(path, 4096, &bytes, &truncated, &err);
  if (read == ReadStatus::kOk && !truncated) {
    if (auto key = ParsePlayerKeyFile(bytes)) return g.ranking.key = std::make_shared<const PlayerKey>(std::move(*key));
  }
  if (read != ReadStatus::kMissing) {
    // Never replaced silently: the old file stays beside, as it was.
    const std::string aside = path + ".bad";
    const bool kept = read == ReadStatus::kOk && !truncated ? WriteFileAtomically(aside, bytes, &err, kOwnerOnly)
                                                            : CopyFileAtomically(path, aside, &err);
    if (!kept) {
      std::fprintf(stderr, "kv: the player key %s is damaged and cannot be kept aside (%s); it is left as it is\n",
                   path.c_str(), err.c_str());
      return nullptr;
    }
    std::fprintf(stderr, "kv: the player key %s is damaged; kept it as %s and made a new key\n", path.c_str(),
                 aside.c_str());
  }
  return g.ranking.key = MakeKey(path);
}
