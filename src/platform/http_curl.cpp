// libcurl behind the Http interface. Each request uses its own easy handle, so
// requests on different threads never share state; signals are off so the
// time-outs are safe on a worker thread.
#include <curl/curl.h>

#include <algorithm>
#include <string>

#include "platform/http.h"

namespace {

struct BodySink {
  std::string* body;
  std::size_t cap;
  bool truncated = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t n = size * count;
  const std::size_t room = sink->cap - std::min(sink->cap, sink->body->size());
  if (n > room) {
    // Keep what fits and stop reading: the rest of an oversized reply is
    // never looked at, and returning short ends the transfer.
    sink->body->append(data, room);
    sink->truncated = true;
    return room;
  }
  sink->body->append(data, n);
  return n;
}

class CurlHttp : public Http {
 public:
  CurlHttp(int timeout_ms, std::size_t max_body, int whole_ms)
      : timeout_ms_(std::max(1, timeout_ms)),
        whole_ms_(whole_ms > 0 ? whole_ms : timeout_ms_ * 4),
        max_body_(max_body),
        global_ok_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
  ~CurlHttp() override {
    if (global_ok_) curl_global_cleanup();
  }
  CurlHttp(const CurlHttp&) = delete;
  CurlHttp& operator=(const CurlHttp&) = delete;

  HttpReply Get(const std::string& url, const HttpHeaders& extra = {}) override { return Request(url, nullptr, extra); }
  HttpReply Post(const std::string& url, const std::string& body, const HttpHeaders& extra = {}) override {
    return Request(url, &body, extra);
  }

 private:
  HttpReply Request(const std::string& url, const std::string* post_body, const HttpHeaders& extra) {
    HttpReply reply;
    if (!global_ok_) {
      reply.error = "libcurl could not be initialised";
      return reply;
    }
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
      reply.error = "libcurl could not create a request";
      return reply;
    }
    BodySink sink{&reply.body, max_body_};
    char error_text[CURL_ERROR_SIZE] = {};
    // No "Expect: 100-continue" round trip for larger bodies.
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    for (const auto& [name, value] : extra) {
      // A header is one line: anything that could end it early is not sent.
      if ((name + value).find_first_of("\r\n") != std::string::npos) continue;
      headers = curl_slist_append(headers, (name + ": " + value).c_str());
    }

    const long stall_seconds = std::max(1L, static_cast<long>((timeout_ms_ + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");  // loopback is never proxied
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms_));
    // Whole exchange: lookup, connect, send and receive, each up to the limit.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(whole_ms_));
    // A server that stops sending mid-reply is cut off after the limit.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall_seconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // A ranking is a twentieth of its size in gzip; what reaches WriteBody
    // (and its cap) is the decoded reply, the same bytes either way.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip");
    if (post_body != nullptr) {
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post_body->data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_body->size()));
    } else {
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.truncated = sink.truncated;
    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && sink.truncated && status != 0)) {
      reply.ok = true;
      reply.status = status;
    } else {
      reply.error = error_text[0] != '\0' ? error_text : curl_easy_strerror(rc);
      reply.body.clear();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
  }

  int timeout_ms_;
  int whole_ms_;
  std::size_t max_body_;
  bool global_ok_;
};

}  // namespace

std::unique_ptr<Http> MakeCurlHttp(int timeout_ms, std::size_t max_body_bytes, int whole_ms) {
  return std::make_unique<CurlHttp>(timeout_ms, max_body_bytes, whole_ms);
}
