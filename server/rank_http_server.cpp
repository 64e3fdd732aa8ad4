#include "rank_http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "rank_service/player_key.h"
#include "rank_service/rank_service.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MicrosSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

// The listening socket, made here so that port 0, IPv6 and the backlog are
// ours to choose.
int Listen(const std::string& host_in, int port, bool* ipv6, std::string* error) {
  std::string host = host_in;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    if (error != nullptr) *error = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  std::string last = "no address";
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4096) != 0) {
      last = std::strerror(errno);
      ::close(fd);
      fd = -1;
      continue;
    }
    *ipv6 = a->ai_family == AF_INET6;
  }
  freeaddrinfo(found);
  if (fd < 0 && error != nullptr) *error = "cannot listen on " + host + ":" + service + ": " + last;
  return fd;
}

int BoundPort(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
  if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
}

void FreeBody(void* holder) { delete static_cast<std::shared_ptr<const std::string>*>(holder); }

}  // namespace

FileSlice::~FileSlice() {
  if (fd >= 0) ::close(fd);
}

std::string AddressText(const void* any) {
  const auto* sa = static_cast<const sockaddr*>(any);
  char text[INET6_ADDRSTRLEN] = "?";
  if (sa == nullptr) return text;
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &a, text, sizeof text);
    }
  }
  return text;
}

bool IsLoopback(std::string_view address) { return address == "::1" || address.substr(0, 4) == "127."; }

namespace {

using Address = std::array<unsigned char, 16>;

// An IPv4 or IPv6 address in text, IPv4 as IPv4-mapped IPv6.
std::optional<Address> ParseAddress(std::string_view text) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string z(text);
  Address a{};
  in_addr v4{};
  if (inet_pton(AF_INET, z.c_str(), &v4) == 1) {
    a[10] = a[11] = 0xFF;
    std::memcpy(a.data() + 12, &v4, 4);
    return a;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, z.c_str(), &v6) != 1) return std::nullopt;
  std::memcpy(a.data(), v6.s6_addr, 16);
  return a;
}

bool IsMapped(const Address& a) {
  static constexpr unsigned char kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(a.data(), kPrefix, 12) == 0;
}

std::string AddressString(const Address& a) {
  char out[INET6_ADDRSTRLEN] = "?";
  if (IsMapped(a)) {
    inet_ntop(AF_INET, a.data() + 12, out, sizeof out);
  } else {
    inet_ntop(AF_INET6, a.data(), out, sizeof out);
  }
  return out;
}

bool InNetwork(const IpNetwork& n, const Address& a) {
  const int whole = n.prefix / 8, rest = n.prefix % 8;
  if (std::memcmp(n.base, a.data(), static_cast<std::size_t>(whole)) != 0) return false;
  if (rest == 0) return true;
  const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
  return (n.base[whole] & mask) == (a[static_cast<std::size_t>(whole)] & mask);
}

bool InAny(const std::vector<IpNetwork>& networks, const Address& a) {
  for (const IpNetwork& n : networks) {
    if (InNetwork(n, a)) return true;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One hop as proxies write it: "192.0.2.1", "192.0.2.1:4711", "2001:db8::1",
// "[2001:db8::1]" or "[2001:db8::1]:4711".
std::optional<Address> HopAddress(std::string_view hop) {
  hop = Trim(hop);
  if (!hop.empty() && hop.front() == '[') {
    const std::size_t close = hop.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view after = hop.substr(close + 1);
    if (!after.empty() && (after.front() != ':' || !AllDigits(after.substr(1)))) return std::nullopt;
    auto a = ParseAddress(hop.substr(1, close - 1));
    if (a && IsMapped(*a)) return std::nullopt;  // brackets hold IPv6 only
    return a;
  }
  const std::size_t colon = hop.find(':');
  if (colon != std::string_view::npos && hop.find(':', colon + 1) == std::string_view::npos) {
    if (!AllDigits(hop.substr(colon + 1))) return std::nullopt;
    auto a = ParseAddress(hop.substr(0, colon));
    if (a && !IsMapped(*a)) return std::nullopt;  // only IPv4 has a bare port
    return a;
  }
  return ParseAddress(hop);
}

// Splits at `sep` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && quoted) {
      ++i;
    } else if (s[i] == '"') {
      quoted = !quoted;
    } else if (s[i] == sep && !quoted) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(s.substr(start));
  return parts;
}

// The hops of a Forwarded header, one per element (its for= parameter);
// nullopt where the element names none or no address.
std::vector<std::optional<Address>> ForwardedHops(std::string_view header) {
  std::vector<std::optional<Address>> hops;
  for (std::string_view element : SplitOutsideQuotes(header, ',')) {
    std::optional<Address> hop;
    for (std::string_view pair : SplitOutsideQuotes(element, ';')) {
      pair = Trim(pair);
      const std::size_t eq = pair.find('=');
      if (eq != 3 || (pair[0] | 0x20) != 'f' || (pair[1] | 0x20) != 'o' || (pair[2] | 0x20) != 'r') continue;
      std::string_view value = pair.substr(4);
      std::string unquoted;
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
          if (value[i] == '\\' && i + 2 < value.size()) ++i;
          unquoted += value[i];
        }
        value = unquoted;
      }
      hop = HopAddress(value);
      break;
    }
    hops.push_back(hop);
  }
  return hops;
}

std::vector<std::optional<Address>> ForwardedForHops(std::string_view header) {
  std::vector<std::optional<Address>> hops;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = header.find(',', start);
    hops.push_back(HopAddress(header.substr(start, comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return hops;
}

// The client the hops name, walked from the right past our proxies.
std::string WalkHops(const Address& peer, const std::vector<std::optional<Address>>& hops,
                     const std::vector<IpNetwork>& trusted) {
  Address client = peer;
  for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
    if (!*hop) break;
    client = **hop;
    if (!InAny(trusted, client)) break;
  }
  return AddressString(client);
}

}  // namespace

std::optional<IpNetwork> ParseNetwork(std::string_view cidr) {
  const std::size_t slash = cidr.find('/');
  const auto a = ParseAddress(cidr.substr(0, slash));
  if (!a) return std::nullopt;
  const int bits = IsMapped(*a) ? 32 : 128;
  int prefix = bits;
  if (slash != std::string_view::npos) {
    const std::string_view p = cidr.substr(slash + 1);
    if (p.empty() || p.size() > 3 || !std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    prefix = std::atoi(std::string(p).c_str());
    if (prefix > bits) return std::nullopt;
  }
  IpNetwork n;
  n.prefix = prefix + (128 - bits);
  for (int bit = 0; bit < 128; ++bit) {
    if (bit < n.prefix && ((*a)[static_cast<std::size_t>(bit / 8)] >> (7 - bit % 8) & 1)) {
      n.base[bit / 8] = static_cast<unsigned char>(n.base[bit / 8] | (0x80 >> (bit % 8)));
    }
  }
  return n;
}

bool InNetworks(const std::vector<IpNetwork>& networks, std::string_view address) {
  const auto a = ParseAddress(address);
  return a && InAny(networks, *a);
}

std::string ClientKey(std::string_view address) {
  auto a = ParseAddress(address);
  if (!a) return std::string(address);
  if (IsMapped(*a)) return AddressString(*a);
  // One IPv6 subscriber gets a /64 to itself: its addresses count as one.
  std::fill(a->begin() + 8, a->end(), 0);
  return AddressString(*a) + "/64";
}

std::string ForwardedClient(std::string_view peer, std::string_view forwarded, std::string_view x_forwarded_for,
                            const std::vector<IpNetwork>& trusted_proxies) {
  const auto from = ParseAddress(peer);
  if (!from || !InAny(trusted_proxies, *from) || (forwarded.empty() && x_forwarded_for.empty())) {
    return std::string(peer);
  }
  if (x_forwarded_for.empty()) return WalkHops(*from, ForwardedHops(forwarded), trusted_proxies);
  if (forwarded.empty()) return WalkHops(*from, ForwardedForHops(x_forwarded_for), trusted_proxies);
  const std::string one = WalkHops(*from, ForwardedHops(forwarded), trusted_proxies);
  const std::string other = WalkHops(*from, ForwardedForHops(x_forwarded_for), trusted_proxies);
  return one == other ? one : AddressString(*from);
}

HttpAnswer TextAnswer(int status, std::string_view text) {
  HttpAnswer a;
  a.status = status;
  a.body = std::make_shared<const std::string>(std::string(text) + "\r\n");
  return a;
}

const HttpRoute* HttpRouter::Find(std::string_view method, std::string_view path, std::string_view query,
                                  HttpAnswer* refusal) const {
  RouteRefusal why;
  const HttpRoute* route = MatchRoute(std::span<const HttpRoute>(routes_), method, path, query, &why);
  if (route == nullptr && refusal != nullptr) *refusal = TextAnswer(why.status, why.text);
  return route;
}

// --- access log ----------------------------------------------------------------

AccessLog::AccessLog(std::string target) : target_(std::move(target)) { Reopen(); }

AccessLog::~AccessLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr && file_ != stderr) std::fclose(file_);
}

bool AccessLog::Reopen(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr && file_ != stderr) std::fclose(file_);
  file_ = nullptr;
  if (target_.empty()) return true;
  if (target_ == "-") {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(target_.c_str(), "a");
  if (file_ == nullptr && error != nullptr) *error = target_ + ": " + std::strerror(errno);
  return file_ != nullptr;
}

void AccessLog::Line(std::string_view client, std::string_view method, std::string_view target, int status,
                     std::size_t bytes, long long microseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
  // The target is the client's text: control bytes would forge log lines.
  std::string safe;
  for (char c : target.substr(0, 200)) safe += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  std::fprintf(file_, "%s %.*s %.*s %s %d %zu %lld\n", when, static_cast<int>(client.size()), client.data(),
               static_cast<int>(method.size()), method.data(), safe.empty() ? "-" : safe.c_str(), status, bytes,
               microseconds);
}

void AccessLog::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) std::fflush(file_);
}

// --- write buckets --------------------------------------------------------------

bool WriteBuckets::Take(const std::string& address, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (buckets_.size() > 100000) {
    // Forget the addresses whose buckets have filled up again: they are
    // indistinguishable from new ones.
    for (auto it = buckets_.begin(); it != buckets_.end();) {
      const double age = std::chrono::duration<double>(now - it->second.last).count();
      it = it->second.tokens + age * per_second_ >= burst_ ? buckets_.erase(it) : std::next(it);
    }
  }
  auto [it, fresh] = buckets_.try_emplace(address, Bucket{burst_, now});
  Bucket& b = it->second;
  if (!fresh) {
    const double age = std::chrono::duration<double>(now - b.last).count();
    b.tokens = std::min(burst_, b.tokens + age * per_second_);
    b.last = now;
  }
  if (b.tokens < 1.0) return false;
  b.tokens -= 1.0;
  return true;
}

// --- connections and requests ----------------------------------------------------

enum class Phase { waiting, headers, body, handling, reply };

struct RankHttpServer::Connection {
  int fd = -1;
  std::string address;
  std::string key;  // what the per-address limits count (ClientKey)
  bool trusted = false;
  bool proxy = false;  // one of our proxies: its requests name their clients
  Phase phase = Phase::waiting;
  Clock::time_point since;
  bool cut = false;
  long long served = 0;  // requests completed on this connection
  int reply_ms = 0;      // the reply's own time to be sent, when longer than the server's
  bool over_cap = false;  // opened while its address held its share already
  Request* request = nullptr;
};

struct RankHttpServer::Request {
  Connection* connection = nullptr;
  Clock::time_point start;
  std::string target;  // raw: path and query
  std::string method;
  std::string body;
  std::string key_header, time_header, signature_header;  // the player's signature, when sent
  std::string client, client_key;  // the client's address (behind our proxy, the one it names)
  std::string accept_encoding, if_none_match, range;
  const HttpRoute* route = nullptr;
  bool started = false;  // the handler has been called
  bool too_big = false;
  // Where the handler's answer goes; shared with the Responder, which may be
  // called from another thread even after the connection has gone.
  struct Outcome {
    std::mutex mutex;  // everything below, between the handler's thread and the loop's
    MHD_Connection* connection = nullptr;
    bool has_answer = false;
    bool parked = false;  // the connection is suspended until the answer
    bool gone = false;    // the request ended: a late answer is dropped
    HttpAnswer answer;
    // Keeps the answer and wakes the parked connection; false when one was
    // given already or the request is gone.
    bool Give(HttpAnswer a) {
      std::lock_guard<std::mutex> lock(mutex);
      if (gone || has_answer) return false;
      answer = std::move(a);
      has_answer = true;
      if (parked) MHD_resume_connection(connection);
      parked = false;
      return true;
    }
  };
  std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();
  int status = 0;
  std::size_t bytes = 0;
};

namespace {

extern "C" {

void* UriCallback(void* cls, const char* uri, MHD_Connection* c) {
  return static_cast<RankHttpServer*>(cls)->OnRequestLine(c, uri);
}

MHD_Result AccessCallback(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                          const char* upload, size_t* size, void** ctx) {
  return static_cast<RankHttpServer*>(cls)->OnRequest(c, url, method, upload, size, ctx) ? MHD_YES : MHD_NO;
}

void CompletedCallback(void* cls, MHD_Connection*, void** ctx, MHD_RequestTerminationCode toe) {
  static_cast<RankHttpServer*>(cls)->OnCompleted(ctx, static_cast<int>(toe));
}

void ConnectionCallback(void* cls, MHD_Connection* c, void** socket_ctx, MHD_ConnectionNotificationCode code) {
  static_cast<RankHttpServer*>(cls)->OnConnection(c, socket_ctx, code == MHD_CONNECTION_NOTIFY_STARTED);
}

MHD_Result AcceptCallback(void* cls, const sockaddr* addr, socklen_t) {
  return static_cast<RankHttpServer*>(cls)->Admit(AddressText(addr)) ? MHD_YES : MHD_NO;
}

}  // extern "C"

}  // namespace

RankHttpServer::RankHttpServer(HttpRouter router, HttpLimits limits, AccessLog* log)
    : router_(std::move(router)), limits_(limits), log_(log), buckets_(limits.writes_per_minute, limits.write_burst) {}

RankHttpServer::~RankHttpServer() { Stop(); }

bool RankHttpServer::Admit(const std::string& address) const {
  if (limits_.trust_loopback && IsLoopback(address)) return true;
  if (InNetworks(limits_.trusted_proxies, address)) return true;
  const std::string key = ClientKey(address);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = per_address_.find(key);
  return it == per_address_.end() || it->second < 2 * limits_.per_address_connections;
}

void RankHttpServer::OnConnection(MHD_Connection* c, void** socket_ctx, bool started) {
  if (started) {
    auto* conn = new Connection;
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* addr = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    conn->fd = fd != nullptr ? fd->connect_fd : -1;
    conn->address = AddressText(addr != nullptr ? addr->client_addr : nullptr);
    conn->key = ClientKey(conn->address);
    conn->trusted = limits_.trust_loopback && IsLoopback(conn->address);
    conn->proxy = InNetworks(limits_.trusted_proxies, conn->address);
    conn->since = Clock::now();
    if (conn->fd >= 0) {
      // Replies leave in one piece; Nagle's algorithm would hold them back
      // for the client's delayed acknowledgement.
      const int on = 1;
      setsockopt(conn->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(conn);
    conn->over_cap = ++per_address_[conn->key] > limits_.per_address_connections && !conn->trusted && !conn->proxy;
    *socket_ctx = conn;
    return;
  }
  auto* conn = static_cast<Connection*>(*socket_ctx);
  if (conn == nullptr) return;
  *socket_ctx = nullptr;
  Request* orphan = nullptr;
  {
    // The socket is still open here: holding the lock keeps the reaper from
    // shutting down a descriptor number that is about to be reused.
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(conn);
    auto it = per_address_.find(conn->key);
    if (it != per_address_.end() && --it->second <= 0) per_address_.erase(it);
    orphan = conn->request;
  }
  if (orphan != nullptr) {
    // A request that never reached the handler (cut off in its headers).
    if (log_ != nullptr) log_->Line(conn->address, orphan->method.empty() ? "-" : orphan->method, orphan->target, 0, 0,
                                    MicrosSince(orphan->start));
    delete orphan;
  }
  delete conn;
}

void* RankHttpServer::OnRequestLine(MHD_Connection* c, const char* uri) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  auto* conn = info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
  auto* req = new Request;
  req->start = Clock::now();
  req->connection = conn;
  // The raw target: MHD hands the handler a decoded path without the query.
  if (uri != nullptr) req->target.assign(uri, strnlen(uri, 4096));
  if (conn != nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    conn->phase = Phase::headers;
    conn->since = req->start;
    conn->request = req;
  }
  return req;
}

int RankHttpServer::OnRequest(MHD_Connection* c, const char*, const char* method, const char* upload, std::size_t* size,
                              void** ctx) {
  auto* req = static_cast<Request*>(*ctx);
  if (req == nullptr) return false;
  Connection* conn = req->connection;
  auto set_phase = [&](Phase p) {
    if (conn == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    conn->phase = p;
    conn->since = Clock::now();
  };
  auto queue = [&](const HttpAnswer& a, bool close) {
    MHD_Response* r = nullptr;
    std::size_t bytes = 0;
    if (a.file) {
      // MHD closes its own copy of the descriptor when the reply is done.
      const int fd = dup(a.file->fd);
      if (fd >= 0) r = MHD_create_response_from_fd_at_offset64(a.file->size, fd, a.file->offset);
      if (r == nullptr) {
        if (fd >= 0) ::close(fd);
        return false;
      }
      bytes = static_cast<std::size_t>(a.file->size);
    } else {
      auto* holder = new std::shared_ptr<const std::string>(a.body ? a.body : std::make_shared<const std::string>());
      r = MHD_create_response_from_buffer_with_free_callback_cls((*holder)->size(), const_cast<char*>((*holder)->data()),
                                                                 &FreeBody, holder);
      if (r == nullptr) {
        delete holder;
        return false;
      }
      bytes = (*holder)->size();
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.content_type.c_str());
    for (const auto& [name, value] : a.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
    // While the server stops, every answer ends its connection.
    if (close || closing_) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
    req->status = a.status;
    req->bytes = bytes;
    if (conn != nullptr) {
      std::lock_guard<std::mutex> lock(mutex_);
      conn->reply_ms = a.reply_ms;
    }
    set_phase(Phase::reply);
    const bool ok = MHD_queue_response(c, static_cast<unsigned>(a.status), r) == MHD_YES;
    MHD_destroy_response(r);
    return ok;
  };

  if (req->status != 0) {
    *size = 0;  // answered early (refused): the rest of the body is dropped
    return true;
  }
  if (req->method.empty()) {
    // The headers are in.
    req->method = method;
    in_flight_++;
    set_phase(Phase::body);
    const std::string_view target = req->target;
    const std::size_t mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    const std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    HttpAnswer refusal;
    req->route = router_.Find(req->method, path, query, &refusal);
    if (req->route == nullptr) return queue(refusal, *size > 0);
    if (conn != nullptr && conn->over_cap) {
      return queue(TextAnswer(429, "too many connections from your address"), true);
    }
    auto header = [&](const char* name, std::string& out, std::size_t cap = 200) {
      // Short headers only: the longest one we read is 128 hex digits.
      if (const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name)) out.assign(v, strnlen(v, cap));
    };
    header(kKeyHeader, req->key_header);
    header(kTimeHeader, req->time_header);
    header(kSignatureHeader, req->signature_header);
    header(MHD_HTTP_HEADER_ACCEPT_ENCODING, req->accept_encoding);
    header(MHD_HTTP_HEADER_IF_NONE_MATCH, req->if_none_match, 1000);
    header(MHD_HTTP_HEADER_RANGE, req->range);
    req->client = conn != nullptr ? conn->address : std::string("?");
    if (conn != nullptr && conn->proxy) {
      // Every line of each header, in order, as one list.
      struct Lists {
        std::string forwarded, forwarded_for;
      } lists;
      MHD_get_connection_values(
          c, MHD_HEADER_KIND,
          [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
            auto* l = static_cast<Lists*>(cls);
            std::string* into = strcasecmp(key, "Forwarded") == 0         ? &l->forwarded
                                : strcasecmp(key, "X-Forwarded-For") == 0 ? &l->forwarded_for
                                                                          : nullptr;
            if (into != nullptr && value != nullptr) {
              if (!into->empty()) *into += ',';
              *into += value;
            }
            return MHD_YES;
          },
          &lists);
      req->client = ForwardedClient(conn->address, lists.forwarded, lists.forwarded_for, limits_.trusted_proxies);
    }
    req->client_key = ClientKey(req->client);
    const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > req->route->max_body) {
      return queue(TextAnswer(req->route->too_large_status, "refused: body too large"), true);
    }
    return true;
  }
  if (*size > 0) {
    if (req->body.size() + *size > req->route->max_body) {
      req->too_big = true;  // chunked bodies have no length to check first
    } else {
      req->body.append(upload, *size);
    }
    *size = 0;
    return true;
  }
  if (!req->started) {
    req->started = true;
    if (req->too_big) return queue(TextAnswer(req->route->too_large_status, "refused: body too large"), true);
    const bool trusted = conn != nullptr && conn->trusted;
    if (req->route->limited && !trusted && !buckets_.Take(req->client_key, Clock::now())) {
      return queue(TextAnswer(429, "too many records from your address; try again in a few minutes"), false);
    }
    set_phase(Phase::handling);
    const std::string_view target = req->target;
    const std::size_t mark = target.find('?');
    HttpRequest hr;
    hr.method = req->method;
    hr.path = target.substr(0, mark);
    hr.query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    hr.body = req->body;
    hr.client = req->client;
    hr.client_key = req->client_key;
    hr.key_header = req->key_header;
    hr.time_header = req->time_header;
    hr.signature_header = req->signature_header;
    hr.accept_encoding = req->accept_encoding;
    hr.if_none_match = req->if_none_match;
    hr.range = req->range;
    req->outcome->connection = c;
    req->route->handler(hr, [outcome = req->outcome](HttpAnswer a) { outcome->Give(std::move(a)); });
    std::lock_guard<std::mutex> lock(req->outcome->mutex);
    if (!req->outcome->has_answer) {
      // Answered later from another thread; the connection waits parked.
      req->outcome->parked = true;
      MHD_suspend_connection(c);
      return true;
    }
  }
  HttpAnswer answer;
  {
    std::lock_guard<std::mutex> lock(req->outcome->mutex);
    if (!req->outcome->has_answer) return true;  // woken early: still parked work
    answer = req->outcome->answer;
  }
  return queue(answer, false);
}

void RankHttpServer::OnCompleted(void** ctx, int how) {
  auto* req = static_cast<Request*>(*ctx);
  if (req == nullptr) return;
  *ctx = nullptr;
  {
    std::lock_guard<std::mutex> lock(req->outcome->mutex);
    req->outcome->gone = true;
  }
  Connection* conn = req->connection;
  if (conn != nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    conn->phase = Phase::waiting;
    conn->since = Clock::now();
    conn->served++;
    if (conn->request == req) conn->request = nullptr;
  }
  if (!req->method.empty()) in_flight_--;
  if (how == MHD_REQUEST_TERMINATED_COMPLETED_OK) answered_++;
  if (log_ != nullptr) {
    log_->Line(!req->client.empty() ? std::string_view(req->client)
               : conn != nullptr       ? std::string_view(conn->address)
                                       : std::string_view("?"),
               req->method.empty() ? std::string_view("-") : std::string_view(req->method), req->target,
               how == MHD_REQUEST_TERMINATED_COMPLETED_OK ? req->status : 0, req->bytes, MicrosSince(req->start));
  }
  delete req;
}

void RankHttpServer::Reap() {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  for (Connection* conn : connections_) {
    if (conn->cut || conn->fd < 0) continue;
    std::chrono::milliseconds limit{0};
    switch (conn->phase) {
      case Phase::waiting:
        // A new connection must bring its request as promptly as its
        // headers; one kept alive after a request may wait idle longer.
        limit = conn->served == 0 ? std::chrono::milliseconds(limits_.header_ms)
                                  : std::chrono::milliseconds(limits_.idle_seconds * 1000LL);
        break;
      case Phase::headers: limit = std::chrono::milliseconds(limits_.header_ms); break;
      case Phase::body: limit = std::chrono::milliseconds(limits_.body_ms); break;
      case Phase::reply: limit = std::chrono::milliseconds(std::max(limits_.reply_ms, conn->reply_ms)); break;
      case Phase::handling: continue;  // ours to finish
    }
    // Stopping: a connection with no request under way brings one now or goes.
    if (closing_ && conn->phase == Phase::waiting) limit = std::min(limit, std::chrono::milliseconds(1000));
    if (now - conn->since > limit) {
      // The loop sees the end of the stream and closes the connection itself.
      ::shutdown(conn->fd, SHUT_RDWR);
      conn->cut = true;
      cut_off_++;
    }
  }
}

void RankHttpServer::Watch() {
  while (watching_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Reap();
    if (log_ != nullptr) log_->Flush();
  }
}

int RankHttpServer::Start(const std::string& host, int port, std::string* error) {
  if (daemon_ != nullptr) return -1;
  bool ipv6 = false;
  listen_fd_ = Listen(host, port, &ipv6, error);
  if (listen_fd_ < 0) return -1;
  const int bound = BoundPort(listen_fd_);
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC;
  if (ipv6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, 0, &AcceptCallback, this, &AccessCallback, this, MHD_OPTION_LISTEN_SOCKET, listen_fd_,
      MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::max(1, limits_.threads)), MHD_OPTION_CONNECTION_LIMIT,
      static_cast<unsigned>(limits_.max_connections), MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits_.idle_seconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connection_memory,
      MHD_OPTION_URI_LOG_CALLBACK, &UriCallback, this, MHD_OPTION_NOTIFY_COMPLETED, &CompletedCallback, this,
      MHD_OPTION_NOTIFY_CONNECTION, &ConnectionCallback, this, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    if (error != nullptr) *error = "the HTTP daemon did not start";
    ::close(listen_fd_);
    listen_fd_ = -1;
    return -1;
  }
  watching_ = true;
  watcher_ = std::thread([this] { Watch(); });
  return bound;
}

bool RankHttpServer::Drain(std::chrono::milliseconds grace) {
  if (daemon_ == nullptr) return true;
  const auto until = Clock::now() + grace;
  closing_ = true;
  const int fd = MHD_quiesce_daemon(daemon_);
  if (fd >= 0) {
    // Connections the system has accepted for us are clients that may have
    // sent their request already: they are served (with Connection: close)
    // before the door shuts.
    for (;;) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      const int s = accept4(fd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (s < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        break;
      }
      if (MHD_add_connection(daemon_, s, reinterpret_cast<sockaddr*>(&addr), len) != MHD_YES) ::close(s);
    }
    ::close(fd);
    listen_fd_ = -1;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (connections_.empty()) return true;
    }
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void RankHttpServer::Stop() {
  if (daemon_ == nullptr) return;
  closing_ = true;
  watching_ = false;
  if (watcher_.joinable()) watcher_.join();
  // The daemon may not stop while a connection is parked: whatever still
  // waits for its answer is told that the server is stopping.
  std::vector<std::shared_ptr<Request::Outcome>> parked;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection* conn : connections_) {
      if (conn->request != nullptr) parked.push_back(conn->request->outcome);
    }
  }
  for (auto& outcome : parked) outcome->Give(TextAnswer(503, "the server is stopping"));
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
  if (log_ != nullptr) log_->Flush();
}

RankHttpServer::Stats RankHttpServer::stats() const {
  Stats s;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    s.connections = static_cast<long long>(connections_.size());
  }
  s.requests = answered_;
  s.cut_off = cut_off_;
  return s;
}
