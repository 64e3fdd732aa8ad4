#include "rank_service/player_key.h"

#include <sodium.h>

#include "platform/text.h"

namespace {

constexpr std::string_view kFileMagic = "kv-player-key 1";

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::optional<std::string> Unhex(std::string_view hex, std::size_t bytes) {
  if (hex.size() != bytes * 2) return std::nullopt;
  std::string out(bytes, '\0');
  std::size_t got = 0;
  if (sodium_hex2bin(reinterpret_cast<unsigned char*>(out.data()), bytes, hex.data(), hex.size(), nullptr, &got,
                     nullptr) != 0 ||
      got != bytes) {
    return std::nullopt;
  }
  return out;
}

std::optional<PlayerKey> FromSeed(std::string_view seed) {
  if (!SodiumReady() || seed.size() != crypto_sign_SEEDBYTES) return std::nullopt;
  PlayerKey key;
  key.secret.resize(crypto_sign_SECRETKEYBYTES);
  key.public_key.resize(crypto_sign_PUBLICKEYBYTES);
  crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(key.public_key.data()),
                           reinterpret_cast<unsigned char*>(key.secret.data()),
                           reinterpret_cast<const unsigned char*>(seed.data()));
  return key;
}

}  // namespace

std::string Hex(std::string_view bytes) {
  std::string out(bytes.size() * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  out.pop_back();
  return out;
}

std::optional<PlayerKey> NewPlayerKey() {
  if (!SodiumReady()) return std::nullopt;
  std::string seed(crypto_sign_SEEDBYTES, '\0');
  randombytes_buf(seed.data(), seed.size());
  auto key = FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  return key;
}

std::string PlayerKeyFileText(const PlayerKey& key) {
  return std::string(kFileMagic) + "\n" + Hex(std::string_view(key.secret).substr(0, crypto_sign_SEEDBYTES)) + "\n";
}

std::optional<PlayerKey> ParsePlayerKeyFile(std::string_view text) {
  if (text.substr(0, kFileMagic.size()) != kFileMagic) return std::nullopt;
  text.remove_prefix(kFileMagic.size());
  if (text.substr(0, 1) != "\n") return std::nullopt;
  text.remove_prefix(1);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  auto seed = Unhex(text, crypto_sign_SEEDBYTES);
  if (!seed) return std::nullopt;
  return FromSeed(*seed);
}

std::string SignedText(std::string_view method, std::string_view path, std::string_view query,
                       std::string_view body, long long unix_time) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(body.data()), body.size());
  std::string t = "kv-request 1\n";
  t.append(method).append("\n").append(path).append("\n").append(query).append("\n");
  t += Hex(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
  t += "\n" + std::to_string(unix_time);
  return t;
}

HttpHeaders SignRequest(const PlayerKey& key, std::string_view method, std::string_view path,
                        std::string_view query, std::string_view body, long long unix_time) {
  const std::string message = SignedText(method, path, query, body, unix_time);
  std::string sig(crypto_sign_BYTES, '\0');
  if (!SodiumReady() || key.secret.size() != crypto_sign_SECRETKEYBYTES) return {};
  crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       reinterpret_cast<const unsigned char*>(key.secret.data()));
  return {{kKeyHeader, Hex(key.public_key)}, {kTimeHeader, std::to_string(unix_time)}, {kSignatureHeader, Hex(sig)}};
}

CheckedSignature CheckSignature(const SignatureHeaders& h, std::string_view method, std::string_view path,
                                std::string_view query, std::string_view body, long long now) {
  CheckedSignature out;
  if (h.key.empty() && h.time.empty() && h.signature.empty()) return out;
  out.verdict = CheckedSignature::Verdict::bad;
  auto key = Unhex(h.key, crypto_sign_PUBLICKEYBYTES);
  auto sig = Unhex(h.signature, crypto_sign_BYTES);
  auto time = text::ParseDecimal(h.time, 0, 1LL << 40);
  if (!key || !sig || !time) {
    out.why = "malformed signature headers";
    return out;
  }
  if (*time < now - kSignatureWindowSeconds || *time > now + kSignatureWindowSeconds) {
    out.why = "the signature's time is more than 5 minutes off";
    return out;
  }
  const std::string message = SignedText(method, path, query, body, *time);
  if (!SodiumReady() ||
      crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(sig->data()),
                                  reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                                  reinterpret_cast<const unsigned char*>(key->data())) != 0) {
    out.why = "the signature does not match the request";
    return out;
  }
  out.verdict = CheckedSignature::Verdict::valid;
  out.public_key = std::move(*key);
  out.signature = std::move(*sig);
  return out;
}
