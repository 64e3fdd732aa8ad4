#include "cached_reply.h"

#include <zlib.h>

#include <cstdio>

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// Calls `each` with every comma-separated item of a header value, trimmed.
template <typename F>
void ForEachItem(std::string_view list, F each) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    if (!item.empty() && each(item)) return;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

std::string Gzip(std::string_view bytes) {
  z_stream z{};
  // 31: a gzip header and trailer around the deflate stream.
  if (deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string();
}

bool AcceptsGzip(std::string_view accept_encoding) {
  bool takes = false;
  ForEachItem(accept_encoding, [&](std::string_view item) {
    const std::size_t semi = item.find(';');
    const std::string_view coding = Trim(item.substr(0, semi));
    if (!EqualNoCase(coding, "gzip") && !EqualNoCase(coding, "x-gzip") && coding != "*") return false;
    bool zero = false;
    if (semi != std::string_view::npos) {
      std::string_view q = Trim(item.substr(semi + 1));
      if (q.size() >= 2 && (q[0] == 'q' || q[0] == 'Q') && q[1] == '=') {
        q.remove_prefix(2);
        // q=0, q=0., q=0.000: refused; anything else is a yes.
        zero = !q.empty() && q[0] == '0' && q.find_first_not_of("0.", 0) == std::string_view::npos;
      }
    }
    takes = !zero;
    return EqualNoCase(coding, "gzip");  // an explicit gzip settles it
  });
  return takes;
}

bool TagListNames(std::string_view if_none_match, std::string_view etag) {
  bool named = false;
  ForEachItem(if_none_match, [&](std::string_view tag) {
    if (tag.size() > 2 && tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    named = tag == "*" || tag == etag;
    return named;
  });
  return named;
}

CachedReply::CachedReply(std::shared_ptr<const std::string> plain, std::string content_type)
    : plain_(plain ? std::move(plain) : std::make_shared<const std::string>()), content_type_(std::move(content_type)) {}

void CachedReply::Make() const {
  std::call_once(once_, [this] {
    const auto* data = reinterpret_cast<const Bytef*>(plain_->data());
    const auto size = static_cast<uInt>(plain_->size());
    const unsigned long crc = crc32(crc32(0L, Z_NULL, 0), data, size);
    const unsigned long sum = adler32(adler32(0L, Z_NULL, 0), data, size);
    char tag[24];
    std::snprintf(tag, sizeof tag, "\"%08lx%08lx\"", crc & 0xffffffffUL, sum & 0xffffffffUL);
    etag_ = tag;
    std::string packed = Gzip(*plain_);
    // A copy that does not shrink (or could not be made) is not worth sending.
    if (!packed.empty() && packed.size() < plain_->size()) gzip_ = std::make_shared<const std::string>(std::move(packed));
  });
}

const std::shared_ptr<const std::string>& CachedReply::gzip() const {
  Make();
  return gzip_;
}

const std::string& CachedReply::etag() const {
  Make();
  return etag_;
}

std::string CachedReply::gzip_etag() const {
  const std::string& tag = etag();
  return tag.substr(0, tag.size() - 1) + "-gz\"";
}

HttpAnswer AnswerCached(const HttpRequest& req, const CachedReply& reply) {
  HttpAnswer a;
  a.content_type = reply.content_type();
  const bool packed = reply.gzip() != nullptr && AcceptsGzip(req.accept_encoding);
  const std::string tag = packed ? reply.gzip_etag() : reply.etag();
  a.headers = {{"ETag", tag},
               {"Cache-Control", "public, max-age=" + std::to_string(kReadCacheSeconds)},
               {"Vary", "Accept-Encoding"}};
  if (!req.if_none_match.empty() &&
      (TagListNames(req.if_none_match, reply.etag()) || TagListNames(req.if_none_match, reply.gzip_etag()))) {
    a.status = 304;
    return a;
  }
  if (packed) {
    a.body = reply.gzip();
    a.headers.emplace_back("Content-Encoding", "gzip");
  } else {
    a.body = reply.plain();
  }
  return a;
}
