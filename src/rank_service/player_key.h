// Player keys: each player's records and replays are signed with an Ed25519
// key of their own (libsodium), so the server can tell the player who first
// ranked under a name and id from anyone else using them. The signature
// travels in headers of our own beside the request; body and query are the
// protocol's as ever.
//
//   X-KV-Key        the public key, 64 hex digits
//   X-KV-Time       seconds since 1970 when the request was signed
//   X-KV-Signature  128 hex digits: the signature of SignedText(...)
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/http.h"

inline constexpr const char* kKeyHeader = "X-KV-Key";
inline constexpr const char* kTimeHeader = "X-KV-Time";
inline constexpr const char* kSignatureHeader = "X-KV-Signature";
// How far a request's time may be from the server's clock, either way.
inline constexpr long long kSignatureWindowSeconds = 5 * 60;

struct PlayerKey {
  std::string secret;      // 64 bytes (libsodium's secret key: seed and public key)
  std::string public_key;  // 32 bytes
};

// A fresh key pair; nullopt only when libsodium cannot start.
std::optional<PlayerKey> NewPlayerKey();
// The key file's text ("kv-player-key 1", then the 32-byte seed in hex) and
// its reading; nullopt for anything damaged.
std::string PlayerKeyFileText(const PlayerKey& key);
std::optional<PlayerKey> ParsePlayerKeyFile(std::string_view text);

// What is signed: method, path, query, the body's SHA-256 and the time.
std::string SignedText(std::string_view method, std::string_view path, std::string_view query,
                       std::string_view body, long long unix_time);
// The three headers of a request signed with `key` at `unix_time`.
HttpHeaders SignRequest(const PlayerKey& key, std::string_view method, std::string_view path,
                        std::string_view query, std::string_view body, long long unix_time);

// A request's signature headers as the server reads them.
struct SignatureHeaders {
  std::string_view key, time, signature;  // empty when absent
};
struct CheckedSignature {
  enum class Verdict { unsigned_request, valid, bad } verdict = Verdict::unsigned_request;
  std::string public_key;  // 32 bytes, when valid
  std::string signature;   // 64 bytes, when valid (for the replay guard)
  std::string why;         // when bad
};
// Unsigned when none of the headers is there; bad when any is missing or
// malformed, the time is outside the window around `now` or the signature
// does not match.
CheckedSignature CheckSignature(const SignatureHeaders& headers, std::string_view method, std::string_view path,
                                std::string_view query, std::string_view body, long long now);

std::string Hex(std::string_view bytes);
