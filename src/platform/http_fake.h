// A scripted Http for tests: replies are handed out in order and every request
// is recorded. Thread-safe, so a request may run on a worker thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http.h"

class ScriptedHttp : public Http {
 public:
  struct Request {
    std::string method;  // "GET" or "POST"
    std::string url;
    std::string body;
    HttpHeaders headers;
  };

  // Queues the reply for the next request.
  void Push(HttpReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(std::move(reply));
  }
  void PushOk(std::string body, long status = 200) {
    HttpReply r;
    r.ok = true;
    r.status = status;
    r.body = std::move(body);
    Push(std::move(r));
  }
  void PushFailure(std::string error = "timed out") {
    HttpReply r;
    r.error = std::move(error);
    Push(std::move(r));
  }

  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  HttpReply Get(const std::string& url, const HttpHeaders& headers = {}) override {
    return Take({"GET", url, {}, headers});
  }
  HttpReply Post(const std::string& url, const std::string& body, const HttpHeaders& headers = {}) override {
    return Take({"POST", url, body, headers});
  }

 private:
  // With no reply queued the request fails as a network error would.
  HttpReply Take(Request request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
    if (replies_.empty()) {
      HttpReply r;
      r.error = "no reply scripted";
      return r;
    }
    HttpReply r = std::move(replies_.front());
    replies_.pop_front();
    return r;
  }

  mutable std::mutex mutex_;
  std::deque<HttpReply> replies_;
  std::vector<Request> requests_;
};
