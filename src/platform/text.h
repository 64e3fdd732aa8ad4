// Text at the program's boundaries. Inside, strings are UTF-8; the save file,
// the story files and the ranking's records are CP932, and the ranking's
// wire carries UTF-7. One small library shared by the game and kv-rankd:
// character lengths, CP932 widths, the conversions (glibc iconv) and decimal
// numbers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// --- UTF-8 characters --------------------------------------------------------

// Bytes of the UTF-8 character starting at s[i], from its first byte alone:
// 1 for a stray byte, and never past the end of s.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
// The same for a well-formed character only: 0 when the sequence at s[i] is
// cut off or its continuation bytes are wrong.
std::size_t Utf8CompleteLength(std::string_view s, std::size_t i);

// --- CP932 -------------------------------------------------------------------

// Whether a CP932 byte starts a two-byte character.
constexpr bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// CP932 bytes (cells of a fixed-width list) of the UTF-8 character s[i, i+len):
// ASCII and half-width katakana one, every other character two.
int Cp932CharWidth(std::string_view s, std::size_t i, std::size_t len);
// The same for a whole UTF-8 text that CP932 holds.
std::size_t Cp932Width(std::string_view utf8);

// --- conversions ---------------------------------------------------------------
// Each returns nullopt when the input cannot be converted completely (an
// invalid byte sequence, a character the target cannot hold, or a sequence
// cut off at the end).

std::optional<std::string> Utf8ToCp932(std::string_view utf8);
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
std::optional<std::string> Cp932ToUtf16(std::string_view cp932);  // UTF-16LE bytes
std::optional<std::string> Utf16ToCp932(std::string_view utf16le);
// UTF-16LE bytes to UTF-7 (RFC 2152); a final base64 run is closed with "-".
std::optional<std::string> Utf16ToUtf7(std::string_view utf16le);
std::optional<std::string> Utf7ToUtf16(std::string_view utf7);  // UTF-16LE bytes

// U+FFFD in UTF-8: what the game shows for a byte of a file it cannot read.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// CP932 to UTF-8 where each byte that does not start a valid CP932 character
// becomes `replacement`.
std::string Cp932ToUtf8Lossy(std::string_view cp932, std::string_view replacement);
// UTF-8 to CP932 where each character CP932 cannot hold becomes "?".
std::string Utf8ToCp932Lossy(std::string_view utf8);

// Whether every character of the UTF-8 text can be written in CP932.
bool FitsCp932(std::string_view utf8);
// Length of the UTF-8 text in CP932 bytes; nullopt when it does not fit.
std::optional<std::size_t> Cp932Length(std::string_view utf8);

// glibc loads a converter's module when it is opened and unloads it soon
// after the last one is closed, so alternating one-shot conversions (CP932,
// UTF-7, CP932, ...) load and unload modules over and over. While an object of
// this class lives, the modules stay loaded. Programs that convert often (the
// server, the game's ranking) keep one; nothing else changes.
class CodecModules {
 public:
  CodecModules();
  ~CodecModules();
  CodecModules(const CodecModules&) = delete;
  CodecModules& operator=(const CodecModules&) = delete;

 private:
  void* utf7_;
  void* cp932_;
};

// One conversion kept open, for a batch of texts (a whole reply): opening a
// converter per text costs more than converting it.
class Converter {
 public:
  Converter(const char* to, const char* from);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The whole of `in`, flushed at the end (UTF-7 writes its closing "-" only
  // then); nullopt on any failure.
  std::optional<std::string> Run(std::string_view in);
  // CP932 in: each byte that starts no CP932 character becomes `replacement`.
  std::string RunCp932Lossy(std::string_view cp932, std::string_view replacement);
  // UTF-16LE in: each character the target cannot hold becomes "?"; nullopt
  // only for malformed UTF-16 (an odd byte count or a broken surrogate).
  std::optional<std::string> RunUtf16Lossy(std::string_view utf16le);

 private:
  using SkipRule = std::size_t (*)(std::string_view in, std::size_t at);
  std::optional<std::string> Convert(std::string_view in, SkipRule skip, std::string_view replacement);
  void* cd_;
};

// --- decimal numbers --------------------------------------------------------------

// The whole of `s` as a decimal integer within [min, max]: digits, with one
// leading "+" or "-" only when `sign_allowed`; nothing else, no blanks.
std::optional<long long> ParseDecimal(std::string_view s, long long min, long long max, bool sign_allowed = false);
// The decimal digits at the start of `s` (no sign, no blanks); `used` is how
// many characters they take. nullopt when s starts with no digit or the
// number does not fit 64 bits.
std::optional<unsigned long long> LeadingDigits(std::string_view s, std::size_t* used);

// --- lines ---------------------------------------------------------------------

// The lines of a text file, each without its "\n" or "\r\n"; a final newline
// ends the last line (it starts none).
std::vector<std::string_view> Lines(std::string_view text);

}  // namespace text
