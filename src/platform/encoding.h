// Text encodings at the program's boundaries. Inside, strings are UTF-8.
#pragma once

#include <optional>
#include <string>

// UTF-8 -> CP932 bytes; nullopt when a character has no CP932 form or the
// input is not valid UTF-8.
std::optional<std::string> Utf8ToCp932(const std::string& utf8);
// CP932 bytes -> UTF-8; invalid bytes become U+FFFD rather than failing.
std::string Cp932ToUtf8(const std::string& cp932);
// True when every character of the UTF-8 text can be stored in CP932.
bool FitsCp932(const std::string& utf8);
// UTF-8 -> CP932, replacing each character CP932 cannot hold by "?".
std::string Utf8ToCp932Lossy(const std::string& utf8);
