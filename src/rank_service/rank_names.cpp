#include "rank_service/rank_names.h"

#include <cstring>

#include "platform/text.h"

namespace {

constexpr std::string_view kReservedNames[] = {"ほろ", "ほろみ", "GM", "ＧＭ", "ヴァルネク"};

// The signs a name may not contain; each becomes ".".
constexpr char kBadSigns[] = ",/\\\"?|<>:*&{";

}  // namespace

bool IsReservedName(std::string_view utf8) {
  for (std::string_view r : kReservedNames) {
    if (utf8 == r) return true;
  }
  return false;
}

std::string CleanName(std::string_view utf8) {
  // Work on the CP932 form a character at a time, so a two-byte character is
  // never mistaken for the sign its second byte happens to equal.
  std::string in = text::Utf8ToCp932Lossy(utf8);
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (text::IsCp932Lead(c) && i + 1 < in.size()) {
      unsigned char t = static_cast<unsigned char>(in[i + 1]);
      if (c == 0x82 && t == 0xCD) out += "\x83\x6E";  // は -> ハ
      else out.append(in, i, 2);
      i += 2;
      continue;
    }
    out += (c != 0 && std::strchr(kBadSigns, c)) ? '.' : char(c);
    i += 1;
  }
  return text::Cp932ToUtf8Lossy(out, text::kReplacementCharacter);
}

std::optional<NameRefusal> RefuseName(std::string_view name_cp932) {
  auto utf8 = text::Cp932ToUtf8(name_cp932);
  if (!utf8) return NameRefusal{400, "refused: the name is no CP932 text"};
  if (IsReservedName(*utf8)) return NameRefusal{403, "refused: the name is reserved"};
  if (CleanName(*utf8) != *utf8) return NameRefusal{400, "refused: the name holds signs names may not hold"};
  return std::nullopt;
}
