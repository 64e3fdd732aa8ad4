#include "platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>

namespace text {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

std::size_t SkipCp932Byte(std::string_view, std::size_t) { return 1; }

// How many bytes the UTF-16LE character at `at` takes; 0 when it is malformed.
std::size_t SkipUtf16Char(std::string_view in, std::size_t at) {
  if (at + 2 > in.size()) return 0;
  const unsigned unit = static_cast<unsigned char>(in[at]) | (static_cast<unsigned char>(in[at + 1]) << 8);
  if (unit >= 0xDC00 && unit <= 0xDFFF) return 0;  // a lone low surrogate
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (at + 4 > in.size()) return 0;
    const unsigned next = static_cast<unsigned char>(in[at + 2]) | (static_cast<unsigned char>(in[at + 3]) << 8);
    if (next < 0xDC00 || next > 0xDFFF) return 0;
    return 4;
  }
  return 2;
}

std::optional<std::string> Once(const char* to, const char* from, std::string_view in) {
  Converter c(to, from);
  return c.Run(in);
}

}  // namespace

// --- UTF-8 characters --------------------------------------------------------

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  return std::min(n, s.size() - i);
}

std::size_t Utf8CompleteLength(std::string_view s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// --- CP932 -------------------------------------------------------------------

int Cp932CharWidth(std::string_view s, std::size_t i, std::size_t len) {
  if (len == 1) return 1;
  if (len == 3) {
    const unsigned cp = ((static_cast<unsigned char>(s[i]) & 0x0Fu) << 12) |
                        ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                        (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
    if (cp >= 0xFF61 && cp <= 0xFF9F) return 1;  // half-width katakana
  }
  return 2;
}

std::size_t Cp932Width(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t len = Utf8SequenceLength(utf8, i);
    width += static_cast<std::size_t>(Cp932CharWidth(utf8, i, len));
    i += len;
  }
  return width;
}

// --- conversions ---------------------------------------------------------------

Converter::Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}

Converter::~Converter() {
  if (cd_ != kNoConverter) iconv_close(static_cast<iconv_t>(cd_));
}

std::optional<std::string> Converter::Run(std::string_view in) { return Convert(in, nullptr, {}); }

std::string Converter::RunCp932Lossy(std::string_view cp932, std::string_view replacement) {
  auto out = Convert(cp932, SkipCp932Byte, replacement);
  if (out) return *out;
  // Only a lead byte cut off at the very end is left to fail.
  out = Convert(cp932.substr(0, cp932.empty() ? 0 : cp932.size() - 1), SkipCp932Byte, replacement);
  return out ? *out + std::string(replacement) : std::string();
}

std::optional<std::string> Converter::RunUtf16Lossy(std::string_view utf16le) {
  if (utf16le.size() % 2 != 0) return std::nullopt;
  return Convert(utf16le, SkipUtf16Char, "?");
}

// Converts `in`, growing the output as needed, and flushes the converter at
// the end. With a skip rule, a character that cannot be converted becomes
// `replacement` when the rule says how long it is; malformed input fails.
std::optional<std::string> Converter::Convert(std::string_view in, SkipRule skip, std::string_view replacement) {
  if (cd_ == kNoConverter) return std::nullopt;
  const auto cd = static_cast<iconv_t>(cd_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out;
  out.resize(in.size() * 4 + 16);
  std::size_t used = 0;
  std::size_t pos = 0;
  auto grow = [&] { out.resize(out.size() * 2); };
  for (;;) {
    char* src = const_cast<char*>(in.data() + pos);
    std::size_t src_left = in.size() - pos;
    char* dst = out.data() + used;
    std::size_t dst_left = out.size() - used;
    const bool flushing = src_left == 0;
    const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dst_left)
                                   : iconv(cd, &src, &src_left, &dst, &dst_left);
    used = static_cast<std::size_t>(dst - out.data());
    pos = in.size() - src_left;
    if (r != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      continue;  // all input taken: go round once more to flush
    }
    if (errno == E2BIG) {
      grow();
      continue;
    }
    if (errno == EILSEQ && skip != nullptr && !flushing) {
      const std::size_t n = skip(in, pos);
      if (n == 0) return std::nullopt;
      while (used + replacement.size() > out.size()) grow();
      out.replace(used, replacement.size(), replacement);
      used += replacement.size();
      pos += n;
      continue;
    }
    return std::nullopt;  // EILSEQ, or EINVAL: a sequence cut off at the end
  }
  out.resize(used);
  return out;
}

CodecModules::CodecModules()
    : utf7_(iconv_open("UTF-16LE", "UTF-7")), cp932_(iconv_open("UTF-16LE", "CP932")) {}

CodecModules::~CodecModules() {
  for (void* cd : {utf7_, cp932_}) {
    if (cd != reinterpret_cast<void*>(-1)) iconv_close(static_cast<iconv_t>(cd));
  }
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) { return Once("CP932", "UTF-8", utf8); }
std::optional<std::string> Cp932ToUtf8(std::string_view cp932) { return Once("UTF-8", "CP932", cp932); }
std::optional<std::string> Cp932ToUtf16(std::string_view cp932) { return Once("UTF-16LE", "CP932", cp932); }
std::optional<std::string> Utf16ToCp932(std::string_view utf16le) { return Once("CP932", "UTF-16LE", utf16le); }
std::optional<std::string> Utf16ToUtf7(std::string_view utf16le) { return Once("UTF-7", "UTF-16LE", utf16le); }
std::optional<std::string> Utf7ToUtf16(std::string_view utf7) { return Once("UTF-16LE", "UTF-7", utf7); }

std::string Cp932ToUtf8Lossy(std::string_view cp932, std::string_view replacement) {
  Converter c("UTF-8", "CP932");
  return c.RunCp932Lossy(cp932, replacement);
}

std::string Utf8ToCp932Lossy(std::string_view utf8) {
  if (auto whole = Utf8ToCp932(utf8)) return *whole;
  Converter c("CP932", "UTF-8");
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = Utf8SequenceLength(utf8, i);
    auto one = c.Run(utf8.substr(i, n));
    out += one ? *one : std::string("?");
    i += n;
  }
  return out;
}

bool FitsCp932(std::string_view utf8) { return Utf8ToCp932(utf8).has_value(); }

std::optional<std::size_t> Cp932Length(std::string_view utf8) {
  auto cp = Utf8ToCp932(utf8);
  if (!cp) return std::nullopt;
  return cp->size();
}

// --- decimal numbers --------------------------------------------------------------

std::optional<unsigned long long> LeadingDigits(std::string_view s, std::size_t* used) {
  unsigned long long value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end == s.data()) return std::nullopt;
  if (used != nullptr) *used = static_cast<std::size_t>(end - s.data());
  return value;
}

std::optional<long long> ParseDecimal(std::string_view s, long long min, long long max, bool sign_allowed) {
  bool negative = false;
  if (sign_allowed && !s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  std::size_t used = 0;
  auto digits = LeadingDigits(s, &used);
  if (!digits || used != s.size()) return std::nullopt;
  constexpr unsigned long long kTop = 1ULL << 63;  // |LLONG_MIN|
  if (*digits > kTop || (!negative && *digits == kTop)) return std::nullopt;
  const long long value = !negative         ? static_cast<long long>(*digits)
                          : *digits == kTop ? std::numeric_limits<long long>::min()
                                            : -static_cast<long long>(*digits);
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

}  // namespace text
