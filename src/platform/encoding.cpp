#include "platform/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace {

// Runs a whole conversion, flushing the shift state at the end. With
// `lossy` an unconvertible sequence becomes U+FFFD (UTF-8 output only).
std::optional<std::string> Convert(const char* to, const char* from, const std::string& in,
                                   bool lossy) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::vector<char> buf(in.size() * 4 + 32);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  bool ok = true;
  while (true) {
    char* outp = buf.data();
    size_t outleft = buf.size();
    size_t r = inleft > 0 ? iconv(cd, &inp, &inleft, &outp, &outleft)
                          : iconv(cd, nullptr, nullptr, &outp, &outleft);
    out.append(buf.data(), size_t(outp - buf.data()));
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      if (lossy && inleft > 0) {
        out += "\xEF\xBF\xBD";
        ++inp;
        --inleft;
        // CP932 lead byte with a bad trail: skip the pair's first byte only.
        continue;
      }
      ok = false;
      break;
    }
    if (inleft == 0) {
      // flush once more to close any shift state
      char* o2 = buf.data();
      size_t l2 = buf.size();
      iconv(cd, nullptr, nullptr, &o2, &l2);
      out.append(buf.data(), size_t(o2 - buf.data()));
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
  return Convert("CP932", "UTF-8", utf8, false);
}

std::string Cp932ToUtf8(const std::string& cp932) {
  auto r = Convert("UTF-8", "CP932", cp932, true);
  return r ? *r : std::string();
}

bool FitsCp932(const std::string& utf8) { return Utf8ToCp932(utf8).has_value(); }

std::string Utf8ToCp932Lossy(const std::string& utf8) {
  if (auto whole = Utf8ToCp932(utf8)) return *whole;
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + n > utf8.size()) n = utf8.size() - i;
    auto one = Utf8ToCp932(utf8.substr(i, n));
    out += one ? *one : std::string("?");
    i += n;
  }
  return out;
}
