// What kv-rankd's reads cost on the wire (gzip, ETag and 304) and its HTML
// pages: the same ranking as the game reads, escaped, following every write.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "cached_reply.h"
#include "loopback.h"
#include "platform/http.h"
#include "platform/text.h"
#include "rank_board.h"
#include "rank_pages.h"
#include "rank_routes.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"

namespace {

std::string Gunzip(const std::string& in) {
  z_stream z{};
  if (inflateInit2(&z, 31) != Z_OK) return "<bad>";
  std::string out;
  char buf[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : "<bad>";
}

struct Reply {
  int status = 0;
  std::string head, body;
  std::string Header(std::string name) const {
    std::string h = head;
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const std::size_t at = h.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    const std::size_t from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
  }
};

Reply Get(int port, const std::string& target, const std::string& headers = "") {
  const int fd = loopback::Connect(port);
  const std::string req = "GET " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "Connection: close\r\n\r\n";
  Reply r;
  if (fd < 0 || write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) return r;
  const std::string in = loopback::ReadReply(fd);
  close(fd);
  const std::size_t end = in.find("\r\n\r\n");
  if (in.size() < 12 || end == std::string::npos) return r;
  r.status = std::atoi(in.c_str() + 9);
  r.head = in.substr(0, end + 2);
  r.body = in.substr(end + 4);
  return r;
}

WireRecord Record(const std::string& name_utf8, int id, int score, const std::string& comment_utf8) {
  WireRecord r;
  r.name = text::Utf8ToCp932(name_utf8).value();
  r.id = id;
  r.score = score;
  r.comment = text::Utf8ToCp932(comment_utf8).value();
  r.date = "12/9";
  r.play_count = 3;
  return r;
}

struct Server {
  Server() {
    store = RankStore::Open(":memory:");
    board = std::make_unique<RankBoard>(*store);
    EXPECT_TRUE(board->Start());
    pages = std::make_unique<RankPages>(*board);
    HttpRouter router;
    AddRankingRoutes(router, *board);
    AddPageRoutes(router, *pages);
    server = std::make_unique<RankHttpServer>(std::move(router));
    port = server->Start("127.0.0.1", 0);
    EXPECT_GT(port, 0);
  }
  ~Server() {
    server->Stop();
    board->Stop();
  }
  // Waits until the record is committed and in the replies.
  void Write(int mode, WireRecord r) {
    std::promise<void> done;
    board->Write(mode, std::move(r), [&](RankBoard::Body) { done.set_value(); });
    done.get_future().wait();
  }
  std::unique_ptr<RankStore> store;
  std::unique_ptr<RankBoard> board;
  std::unique_ptr<RankPages> pages;
  std::unique_ptr<RankHttpServer> server;
  int port = -1;
};

const std::string kRead = "/zrk/zrk_rank.exe?read&1";

}  // namespace

TEST(RankWire, GzipCopyAndTagsOfAModeOfManyEntries) {
  Server s;
  for (int i = 0; i < 1000; ++i) s.Write(1, Record("P" + std::to_string(i * 7919 % 10007), i % 10000, 100000 + i * 37, "GG"));
  const Reply plain = Get(s.port, kRead);
  ASSERT_EQ(plain.status, 200);
  EXPECT_EQ(ParseRankingReply(plain.body).filled, 1000);
  EXPECT_EQ(plain.Header("Content-Encoding"), "");
  EXPECT_EQ(plain.Header("Cache-Control"), "public, max-age=5");
  EXPECT_EQ(plain.Header("Vary"), "Accept-Encoding");
  const std::string tag = plain.Header("ETag");
  ASSERT_EQ(tag.size(), 18u) << tag;

  const Reply packed = Get(s.port, kRead, "Accept-Encoding: deflate, gzip;q=0.8\r\n");
  ASSERT_EQ(packed.status, 200);
  EXPECT_EQ(packed.Header("Content-Encoding"), "gzip");
  EXPECT_EQ(Gunzip(packed.body), plain.body);
  EXPECT_LT(packed.body.size() * 10, plain.body.size()) << packed.body.size() << " of " << plain.body.size();
  EXPECT_NE(packed.Header("ETag"), tag);
  EXPECT_EQ(Get(s.port, kRead, "Accept-Encoding: gzip;q=0, br\r\n").body, plain.body);

  // A client holding either copy gets 304 and no body, until the mode changes.
  for (const std::string& held : {tag, packed.Header("ETag"), "\"x\", W/" + tag}) {
    const Reply same = Get(s.port, kRead, "If-None-Match: " + held + "\r\nAccept-Encoding: gzip\r\n");
    EXPECT_EQ(same.status, 304) << held;
    EXPECT_EQ(same.body, "");
    EXPECT_EQ(same.Header("ETag"), packed.Header("ETag"));
  }
  EXPECT_EQ(Get(s.port, "/zrk/zrk_rank.exe?read&2", "If-None-Match: " + tag + "\r\n").status, 200);
  s.Write(1, Record("NEW", 1, 99999999, "top"));
  const Reply changed = Get(s.port, kRead, "If-None-Match: " + tag + "\r\n");
  EXPECT_EQ(changed.status, 200);
  EXPECT_NE(changed.Header("ETag"), tag);

  // The game's client asks for gzip and gets the very bytes of the wire.
  auto http = MakeCurlHttp(5000);
  const HttpReply game = http->Get("http://127.0.0.1:" + std::to_string(s.port) + kRead);
  ASSERT_TRUE(game.ok) << game.error;
  EXPECT_EQ(game.body, changed.body);
}

TEST(RankPages, FrontAndModePagesShowTheRankingEscaped) {
  Server s;
  s.Write(1, Record("ほろぐ", 12, 5000, "一番乗り & <b>"));
  s.Write(1, Record("Eve", 66, 3000, "<script>alert(1)</script>"));
  s.Write(2, Record("ABC", 1, 10, "x"));
  ASSERT_EQ(s.store->SetVerified({1, Record("ほろぐ", 12, 5000, "").name, 12}, true, 5000), StoreStatus::ok);
  s.board->Invalidate(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const Reply page = Get(s.port, "/ranking/EASY");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.Header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
  const std::string& html = page.body;
  EXPECT_NE(html.find("2 runs ranked"), std::string::npos);
  EXPECT_NE(html.find("ほろぐ"), std::string::npos);
  EXPECT_NE(html.find("一番乗り &amp; &lt;b&gt;"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);  // nothing from elsewhere
  EXPECT_LT(html.find("ほろぐ"), html.find("Eve"));
  // The verified run links its replay; the other has nothing to link.
  EXPECT_NE(html.find("href=\"/zrk/replay?1&amp;name=%82%D9%82%EB%82%AE&amp;id=12\""), std::string::npos);
  EXPECT_EQ(html.find("id=66"), std::string::npos);
  EXPECT_NE(html.find("&#x2713;"), std::string::npos);

  const Reply front = Get(s.port, "/", "Accept-Encoding: gzip\r\n");
  ASSERT_EQ(front.status, 200);
  const std::string top = Gunzip(front.body);
  EXPECT_NE(top.find("/ranking/HELL"), std::string::npos);
  EXPECT_NE(top.find("ABC"), std::string::npos);
  EXPECT_NE(top.find("0 runs ranked"), std::string::npos);
  EXPECT_EQ(Get(s.port, "/", "If-None-Match: " + front.Header("ETag") + "\r\n").status, 304);
  EXPECT_EQ(Get(s.port, "/ranking/easy").status, 404);

  // The pages follow a write at once, as the wire reads do.
  s.Write(1, Record("Zed", 9, 8000, "new"));
  const std::string after = Get(s.port, "/ranking/EASY").body;
  EXPECT_NE(after.find("3 runs ranked"), std::string::npos);
  EXPECT_LT(after.find("Zed"), after.find("ほろぐ"));
  EXPECT_EQ(Get(s.port, "/", "If-None-Match: " + front.Header("ETag") + "\r\n").status, 200);
}

TEST(RankWire, AcceptEncodingAndIfNoneMatchLists) {
  EXPECT_TRUE(AcceptsGzip("gzip"));
  EXPECT_TRUE(AcceptsGzip("br, GZIP"));
  EXPECT_TRUE(AcceptsGzip("*"));
  EXPECT_TRUE(AcceptsGzip("x-gzip;q=0.5"));
  EXPECT_FALSE(AcceptsGzip(""));
  EXPECT_FALSE(AcceptsGzip("deflate, br"));
  EXPECT_FALSE(AcceptsGzip("gzip;q=0"));
  EXPECT_FALSE(AcceptsGzip("gzip;q=0.000, *"));
  EXPECT_FALSE(AcceptsGzip("gzipx"));
  EXPECT_TRUE(TagListNames("\"a\", \"b\"", "\"b\""));
  EXPECT_TRUE(TagListNames("W/\"b\"", "\"b\""));
  EXPECT_TRUE(TagListNames("*", "\"b\""));
  EXPECT_FALSE(TagListNames("\"bb\"", "\"b\""));
  EXPECT_FALSE(TagListNames("b", "\"b\""));
}
