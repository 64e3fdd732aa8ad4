// A reply kv-rankd hands out many times unchanged (a mode's ranking, a page):
// its bytes, a gzip copy made once on first demand, and a tag naming the
// bytes, so a client that accepts gzip gets the small copy and a client that
// holds the same bytes already gets 304 with no body.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "rank_http_server.h"

// How long a shared cache (a reverse proxy) may keep a read.
inline constexpr int kReadCacheSeconds = 5;

class CachedReply {
 public:
  CachedReply(std::shared_ptr<const std::string> plain, std::string content_type);
  CachedReply(const CachedReply&) = delete;
  CachedReply& operator=(const CachedReply&) = delete;

  const std::shared_ptr<const std::string>& plain() const { return plain_; }
  const std::string& content_type() const { return content_type_; }
  // Made on the first call, by one caller; the others wait for it.
  const std::shared_ptr<const std::string>& gzip() const;
  // "\"" + 16 hex digits + "\"", from the plain bytes; the gzip copy's tag
  // ends in "-gz" inside the quotes.
  const std::string& etag() const;
  std::string gzip_etag() const;

 private:
  void Make() const;
  std::shared_ptr<const std::string> plain_;
  std::string content_type_;
  mutable std::once_flag once_;
  mutable std::shared_ptr<const std::string> gzip_;
  mutable std::string etag_;
};

// The answer to a GET of `reply`: 304 when If-None-Match names it (either
// copy, weak or strong), the gzip copy when Accept-Encoding takes gzip, else
// the plain bytes; always with ETag, Cache-Control and Vary.
HttpAnswer AnswerCached(const HttpRequest& req, const CachedReply& reply);

// Whether an Accept-Encoding value takes gzip ("gzip;q=0" does not).
bool AcceptsGzip(std::string_view accept_encoding);
// Whether an If-None-Match value names `etag` (or is "*").
bool TagListNames(std::string_view if_none_match, std::string_view etag);
// The gzip stream of `bytes` (level 9); empty when zlib fails.
std::string Gzip(std::string_view bytes);
