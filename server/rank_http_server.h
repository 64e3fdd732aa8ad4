// kv-rankd's HTTP front: libmicrohttpd's event loop (epoll, a small pool of
// threads) in front of a table of routes. Idle and slow connections cost a
// file descriptor and a few KB of buffer, never a thread; every phase of a
// request (waiting for it, its headers, its body, the reply) has a total
// deadline, so a client trickling a byte now and then is cut off. A handler
// may answer at once or later from another thread (a write waits for its
// commit); the connection is parked meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

// The request as a route handler sees it. Views are valid during the call.
struct HttpRequest {
  std::string_view method;
  std::string_view path;
  std::string_view query;  // raw, without "?" ("write&3" is no list of pairs)
  std::string_view body;
  std::string_view client;      // the peer's address, as text
  std::string_view client_key;  // what its limits count: ClientKey(client)
  // The player's signature headers (X-KV-Key, X-KV-Time, X-KV-Signature);
  // empty when absent.
  std::string_view key_header, time_header, signature_header;
  // What the client takes (Accept-Encoding) and the tags it holds
  // (If-None-Match); empty when absent.
  std::string_view accept_encoding, if_none_match;
  std::string_view range;  // Range; empty when absent
};

// A part of an open file sent as a reply's body straight from the file
// (nothing of it is held in memory). The descriptor closes with its last holder.
struct FileSlice {
  FileSlice(int descriptor, unsigned long long at, unsigned long long length)
      : fd(descriptor), offset(at), size(length) {}
  ~FileSlice();
  FileSlice(const FileSlice&) = delete;
  FileSlice& operator=(const FileSlice&) = delete;
  const int fd;
  const unsigned long long offset, size;
};

struct HttpAnswer {
  int status = 200;
  std::shared_ptr<const std::string> body;
  std::string content_type = "text/plain; charset=Shift_JIS";
  // More headers of the reply (ETag, Content-Encoding, Cache-Control, ...).
  std::vector<std::pair<std::string, std::string>> headers;
  // When set, the body comes from this file instead of `body`.
  std::shared_ptr<const FileSlice> file;
  // Time to send it when longer than the server's reply limit (a large
  // file for a slow client); 0: the server's.
  int reply_ms = 0;
};

// A short text answer ("refused: bad score" + CR LF).
HttpAnswer TextAnswer(int status, std::string_view text);

// Called exactly once per request, from any thread.
using Responder = std::function<void(HttpAnswer)>;

struct HttpRoute {
  std::string method;        // "GET", "POST", ...
  std::string path;          // exact
  std::string query_prefix;  // the query must begin with it ("" matches any)
  std::size_t max_body = 0;  // longer bodies are refused with too_large_status unread
  int too_large_status = 400;
  bool limited = false;      // takes a token from the client's write bucket
  std::function<void(const HttpRequest&, Responder)> handler;
};

// The routes, tried in order. A known path with no matching method or query
// gets 400, an unknown path 404.
class HttpRouter {
 public:
  void Add(HttpRoute route) { routes_.push_back(std::move(route)); }
  // The route for the request; nullptr with `refusal` set otherwise.
  const HttpRoute* Find(std::string_view method, std::string_view path, std::string_view query,
                        HttpAnswer* refusal) const;

 private:
  std::vector<HttpRoute> routes_;
};

// A network in CIDR form ("10.0.0.0/8", "2001:db8::/32", or one address);
// IPv4 is held as IPv4-mapped IPv6.
struct IpNetwork {
  unsigned char base[16] = {};
  int prefix = 0;  // of the 128 bits
};
std::optional<IpNetwork> ParseNetwork(std::string_view cidr);
bool InNetworks(const std::vector<IpNetwork>& networks, std::string_view address);

struct HttpLimits {
  int threads = 2;                 // event loops
  int max_connections = 10000;     // all clients together
  int per_address_connections = 32;  // beyond this a client's requests get 429; at twice it is refused
  double writes_per_minute = 6;    // write bucket refill per address
  double write_burst = 6;          // write bucket size
  bool trust_loopback = false;     // loopback clients skip the per-address limits
  // Connections from these networks come from our own proxies: the client is
  // the one their Forwarded / X-Forwarded-For headers name (ForwardedClient),
  // and they skip the per-address connection limits (they carry many clients).
  std::vector<IpNetwork> trusted_proxies;
  int idle_seconds = 15;           // a kept-alive connection waiting for its next request
  int header_ms = 5000;            // connection (or request line) to the end of the headers
  int body_ms = 5000;              // end of the headers to the end of the body
  int reply_ms = 10000;            // reply queued to reply sent
  std::size_t connection_memory = 16 * 1024;  // request line, headers and read buffer
};

// One line per request: time, address, method, path?query, status, bytes,
// microseconds. "-" writes to stderr, a path appends to that file, "" is off.
class AccessLog {
 public:
  explicit AccessLog(std::string target = "-");
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;
  // Opens (again) the target, as after a log rotation; false when it cannot.
  bool Reopen(std::string* error = nullptr);
  void Line(std::string_view client, std::string_view method, std::string_view target, int status, std::size_t bytes,
            long long microseconds);
  void Flush();

 private:
  std::mutex mutex_;
  std::string target_;
  std::FILE* file_ = nullptr;
};

// Per-address write buckets.
class WriteBuckets {
 public:
  WriteBuckets(double per_minute, double burst) : per_second_(per_minute / 60.0), burst_(burst) {}
  bool Take(const std::string& address, std::chrono::steady_clock::time_point now);

 private:
  struct Bucket {
    double tokens;
    std::chrono::steady_clock::time_point last;
  };
  std::mutex mutex_;
  double per_second_, burst_;
  std::unordered_map<std::string, Bucket> buckets_;
};

class RankHttpServer {
 public:
  RankHttpServer(HttpRouter router, HttpLimits limits = {}, AccessLog* log = nullptr);
  ~RankHttpServer();
  RankHttpServer(const RankHttpServer&) = delete;
  RankHttpServer& operator=(const RankHttpServer&) = delete;

  // Binds host:port (port 0 picks a free one; "[::1]" style hosts allowed)
  // and serves. Returns the port, or -1 (and `error`).
  int Start(const std::string& host, int port, std::string* error = nullptr);
  // Stops taking connections (those the system accepted already are still
  // served), answers every request from now on with Connection: close, closes
  // idle kept-alive connections, and waits up to `grace` for every
  // connection to end. True when they all did; Stop() follows either way.
  bool Drain(std::chrono::milliseconds grace);
  // Closes every connection and stops (a request still waiting for its
  // handler's answer gets 503); safe to call twice.
  void Stop();

  struct Stats {
    long long connections = 0;  // open now
    long long requests = 0;     // answered so far
    long long cut_off = 0;      // connections closed for missing a deadline
  };
  Stats stats() const;

  // Internals shared with the callbacks.
  struct Connection;
  struct Request;

 private:
  static int OnAccept(void* cls, const void* addr, unsigned len);
  void Reap();
  void Watch();

  HttpRouter router_;
  HttpLimits limits_;
  AccessLog* log_;
  WriteBuckets buckets_;
  MHD_Daemon* daemon_ = nullptr;
  int listen_fd_ = -1;

  mutable std::mutex mutex_;  // guards the sets below
  std::unordered_set<Connection*> connections_;
  std::unordered_map<std::string, int> per_address_;
  std::atomic<long long> in_flight_{0};
  std::atomic<long long> answered_{0};
  std::atomic<long long> cut_off_{0};
  std::atomic<bool> watching_{false};
  std::atomic<bool> closing_{false};  // stopping: every answer closes its connection
  std::thread watcher_;

 public:
  // Called from the C callbacks; not for other use.
  void* OnRequestLine(MHD_Connection* c, const char* uri);
  int OnRequest(MHD_Connection* c, const char* url, const char* method, const char* upload, std::size_t* size,
                void** ctx);
  void OnCompleted(void** ctx, int how);
  void OnConnection(MHD_Connection* c, void** socket_ctx, bool started);
  bool Admit(const std::string& address) const;
};

// The peer address of a socket address, as text ("127.0.0.1", "::1"); an
// IPv4 address mapped into IPv6 is written as IPv4.
std::string AddressText(const void* sockaddr_any);
bool IsLoopback(std::string_view address);
// What the per-address limits count for a client address: an IPv4 address
// as it is, an IPv6 address by its /64 ("2001:db8:1:2::/64").
std::string ClientKey(std::string_view address);
// The client's address for a request that came over a connection from
// `peer`. Only a peer within `trusted_proxies` is believed: the hops its
// header lists are walked from the right (the proxy's own addition) past our
// other proxies to the first address outside them. A hop that is no address
// ("unknown", an obfuscated name, garbage) ends the walk at the last proxy
// that vouched for it. `forwarded` is the Forwarded header (for=...),
// `x_forwarded_for` the X-Forwarded-For header; a client can forge the one
// our proxy does not write, so when both are sent and name different
// clients the proxy's own address is taken. Anyone else's headers are
// ignored: the client is `peer`.
std::string ForwardedClient(std::string_view peer, std::string_view forwarded, std::string_view x_forwarded_for,
                            const std::vector<IpNetwork>& trusted_proxies);
