// A small HTTP client interface for the online ranking. Requests are blocking
// and self-contained, so a call may run on a worker thread while the window
// keeps repainting; one Http object serves one request at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpReply {
  bool ok = false;         // a full reply arrived (any status); false on time-out or network error
  long status = 0;         // HTTP status code when ok
  std::string body;        // at most the body cap; the rest of a longer body is dropped
  bool truncated = false;  // the body was longer than the cap
  std::string error;       // what went wrong when !ok
};

// Request headers of our own (name, value), sent beside the usual ones.
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

class Http {
 public:
  virtual ~Http() = default;
  virtual HttpReply Get(const std::string& url, const HttpHeaders& headers = {}) = 0;
  // Sends `body` as application/x-www-form-urlencoded.
  virtual HttpReply Post(const std::string& url, const std::string& body, const HttpHeaders& headers = {}) = 0;
};

inline constexpr int kHttpDefaultTimeoutMs = 10000;
inline constexpr std::size_t kHttpMaxBodyBytes = 2 * 1024 * 1024;

// libcurl client. `timeout_ms` bounds each phase: name lookup and connect
// each, and a reply that stalls (no byte for that long) is cut off; the whole
// exchange never takes longer than `whole_ms` (0: four times the limit).
std::unique_ptr<Http> MakeCurlHttp(int timeout_ms = kHttpDefaultTimeoutMs,
                                   std::size_t max_body_bytes = kHttpMaxBodyBytes, int whole_ms = 0);
