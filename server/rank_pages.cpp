#include "rank_pages.h"

#include <cstdio>

#include "platform/text.h"
#include "rank_service/rank_codec.h"

namespace {

constexpr const char* kHtmlType = "text/html; charset=utf-8";

// One style sheet in the page: nothing is fetched from anywhere.
constexpr const char* kStyle =
    "body{margin:0;padding:8px;background:#000;color:#ddd;font:15px/1.4 sans-serif}"
    "a{color:#8cf}h1,h2{font-size:1.2em;margin:.8em 0 .3em}h1{color:#fc6}"
    "nav a{display:inline-block;margin:0 .6em .3em 0}"
    ".count{color:#999;margin:0 0 .4em}"
    ".wrap{overflow-x:auto}"
    "table{border-collapse:collapse;min-width:100%}"
    "th,td{padding:3px 5px;border-bottom:1px solid #333;text-align:left;vertical-align:top}"
    "th{color:#999;font-weight:normal;font-size:.85em}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}"
    "td.name{font-weight:bold;white-space:nowrap}td.c{word-break:break-all;min-width:8em}"
    "td.v{color:#6e6;white-space:nowrap}"
    "video{display:block;width:100%;max-width:640px;height:auto;aspect-ratio:4/3;background:#111;margin:2px 0 6px}";

std::string Utf8(std::string_view cp932) { return text::Cp932ToUtf8Lossy(cp932, text::kReplacementCharacter); }

std::string Head(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         EscapeHtml(title) + "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string Nav() {
  std::string s = "<nav><a href=\"/\">K.V. RANKING</a> ";
  for (const char* name : kPageModeNames) s += std::string("<a href=\"/ranking/") + name + "\">" + name + "</a>";
  return s + "</nav>\n";
}

std::string RunsRanked(std::size_t n) {
  return "<p class=\"count\">" + std::to_string(n) + (n == 1 ? " run ranked" : " runs ranked") + "</p>\n";
}

// The table of places [0, count) of a snapshot.
std::string Table(const RankSnapshot& s, std::size_t count, bool links, const VideoLink& video) {
  // The last column: the verified mark, and on a mode's page the links to
  // the run's replay and video.
  std::string t = "<div class=\"wrap\"><table><thead><tr><th>#</th><th>NAME</th><th>SCORE</th><th>COMMENT</th>"
                  "<th>DATE</th><th title=\"verified\">&#x2713;</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < count && i < s.places.size(); ++i) {
    const RankSnapshot::Place& p = s.places[i];
    t += "<tr><td class=\"n\">" + std::to_string(i + 1) + "</td>";
    if (!p.parsed) {
      t += "<td colspan=\"5\">--------</td></tr>\n";
      continue;
    }
    const WireRecord& r = p.record;
    t += "<td class=\"name\">" + EscapeHtml(Utf8(r.name)) + "</td><td class=\"n\">" + std::to_string(r.score) +
         "</td><td class=\"c\">" + EscapeHtml(Utf8(r.comment));
    const std::string film = links && video ? video(s.mode, p) : std::string();
    t += "</td><td class=\"n\">" + EscapeHtml(Utf8(r.date)) + "</td><td class=\"v\">";
    if (p.verified) t += "&#x2713;";
    // Only a verified run's replay is sure to be there.
    if (links && p.verified) t += " <a href=\"" + EscapeHtml(ReplayLink(s.mode, r)) + "\">replay</a>";
    if (!film.empty()) t += " <a href=\"" + EscapeHtml(film) + "\">video</a>";
    t += "</td></tr>\n";
    // The run's video on a row of its own under it, as wide as the table
    // allows (the whole screen of a phone), in the game's 4:3.
    if (!film.empty()) {
      t += "<tr class=\"film\"><td></td><td colspan=\"5\"><video controls preload=\"metadata\" width=\"640\" "
           "height=\"480\" src=\"" + EscapeHtml(film) + "\"></video></td></tr>\n";
    }
  }
  return t + "</tbody></table></div>\n";
}

}  // namespace

std::string EscapeHtml(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ReplayLink(int mode, const WireRecord& record) {
  std::string link = std::string(kReplayPath) + "?" + std::to_string(mode) + "&name=";
  char hex[4];
  for (unsigned char c : record.name) {
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    link += hex;
  }
  return link + "&id=" + std::to_string(record.id);
}

std::string RankingPageHtml(const RankSnapshot& s, const VideoLink& video) {
  const std::string name = kPageModeNames[s.mode - 1];
  std::string page = Head("K.V. " + name + " RANKING") + Nav();
  page += "<h1>&gt;&gt;&gt; " + name + " RANKING</h1>\n" + RunsRanked(s.places.size());
  page += Table(s, s.places.size(), true, video);
  return page + "</body></html>\n";
}

std::string FrontPageHtml(const std::array<std::shared_ptr<const RankSnapshot>, 8>& modes) {
  std::string page = Head("K.V. RANKING") + Nav() + "<h1>K.V. RANKING</h1>\n";
  for (int mode = 1; mode <= 7; ++mode) {
    const RankSnapshot* s = modes[static_cast<std::size_t>(mode)].get();
    const std::string name = kPageModeNames[mode - 1];
    page += "<h2><a href=\"/ranking/" + name + "\">" + name + "</a></h2>\n";
    if (s == nullptr) {
      page += "<p class=\"count\">not available</p>\n";
      continue;
    }
    page += RunsRanked(s->places.size());
    if (!s->places.empty()) page += Table(*s, kFrontPagePlaces, false, {});
  }
  return page + "</body></html>\n";
}

std::shared_ptr<const CachedReply> RankPages::Mode(int mode) {
  auto snapshot = board_.Snapshot(mode);
  if (!snapshot) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  Made& made = modes_[static_cast<std::size_t>(mode)];
  if (!made.page || made.generation != snapshot->generation || made.videos != videos_) {
    auto html = std::make_shared<const std::string>(RankingPageHtml(*snapshot, video_));
    made = {snapshot->generation, videos_, std::make_shared<const CachedReply>(std::move(html), kHtmlType)};
  }
  return made.page;
}

std::shared_ptr<const CachedReply> RankPages::Front() {
  std::array<std::shared_ptr<const RankSnapshot>, 8> modes{};
  std::array<std::uint64_t, 8> generations{};
  for (int mode = 1; mode <= 7; ++mode) {
    modes[static_cast<std::size_t>(mode)] = board_.Snapshot(mode);
    if (modes[static_cast<std::size_t>(mode)]) generations[static_cast<std::size_t>(mode)] = modes[static_cast<std::size_t>(mode)]->generation;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!front_.page || generations != front_generations_) {
    auto html = std::make_shared<const std::string>(FrontPageHtml(modes));
    front_.page = std::make_shared<const CachedReply>(std::move(html), kHtmlType);
    front_generations_ = generations;
  }
  return front_.page;
}

void RankPages::VideosChanged() {
  std::lock_guard<std::mutex> lock(mutex_);
  videos_++;
}

void AddPageRoutes(HttpRouter& router, RankPages& pages) {
  auto answer = [](const HttpRequest& req, const std::shared_ptr<const CachedReply>& page, Responder& reply) {
    if (!page) return reply(TextAnswer(500, "store failed"));
    HttpAnswer a = AnswerCached(req, *page);
    // The pages run no script and load nothing from elsewhere; a browser
    // holds them to that.
    a.headers.emplace_back("Content-Security-Policy",
                           "default-src 'none'; style-src 'unsafe-inline'; media-src 'self'; img-src 'self'");
    a.headers.emplace_back("X-Content-Type-Options", "nosniff");
    reply(std::move(a));
  };
  HttpRoute front;
  front.method = "GET";
  front.path = "/";
  front.handler = [&pages, answer](const HttpRequest& req, Responder reply) { answer(req, pages.Front(), reply); };
  router.Add(std::move(front));
  for (int mode = 1; mode <= 7; ++mode) {
    HttpRoute r;
    r.method = "GET";
    r.path = std::string("/ranking/") + kPageModeNames[mode - 1];
    r.handler = [&pages, answer, mode](const HttpRequest& req, Responder reply) { answer(req, pages.Mode(mode), reply); };
    router.Add(std::move(r));
  }
}
