// The game's two ranking exchanges: sending the player's record for a mode
// (the reply is that mode's ranking) and reading a mode's ranking.
//
// The HTTP request runs on a worker thread that owns only the request and
// its reply; the game's frames go on meanwhile. While it runs
// `g.ranking.busy` is set and clicks and keys are ignored (the pointer is
// still followed, a release is still seen, and the window can be closed).
// When the worker is done, the main loop's PollRankExchange applies the
// outcome (table, "[m" log lines) on the frame thread, clears busy and then
// runs the caller's continuation with the result: what the game does after
// the exchange.
//
// Where a request goes: `g.pf.http` when set; otherwise the server named by
// the one line of server.txt in the data folder ("host" or "host:port"); with
// no server.txt, the local ranking (ranking.db in the data folder, answered
// in-process by the same code as kv-rankd).
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct Game;

// Shown in a message box when no HTTP client can be created for a send.
inline constexpr const char* kRankNoClient = "1x.MSXML2.ServerXMLHTTP生成に失敗";

// The longest an exchange step waits for its answer: the game then stops
// waiting and the step fails as on a network error.
inline constexpr int kRankStepMs = 10000;

// What runs on the main thread after an exchange: result 0 on success, -1 on
// failure (a read reports its outcome the same way).
using RankContinuation = void (*)(Game& g, int result, int mode_number);

// Sends the record of the mode (wire number 1..7) with this score, then runs
// `then`. Returns false, running nothing, when an exchange is already running
// or the mode number is out of range. A send whose client cannot be created
// shows kRankNoClient and runs `then` with -1 at once.
bool SendRecord(Game& g, int mode_number, int score, RankContinuation then);
// Reads the mode's ranking, then runs `then`. On failure the table stays.
bool ReadRanking(Game& g, int mode_number, RankContinuation then);

// Uploads the replay file at `replay_path` (read on the worker) as the run of
// the player's record of the mode with this score, then runs `then`: 0 when
// the server took it (its reply, the mode's ranking, replaces the table), -1
// otherwise, with the server's reason in g.ranking.refusal when it gave one.
bool UploadReplay(Game& g, int mode_number, int score, const std::string& replay_path, RankContinuation then);
// Fetches the replay of a ranking entry, then runs `then`: 0 with the bytes
// in g.ranking.fetched, 1 when the server has no replay for it, -1 on failure.
bool FetchReplay(Game& g, int mode_number, const std::string& name, int id, RankContinuation then);

// True while an exchange is running (the same as g.ranking.busy).
bool RankExchangeRunning(const Game& g);
// Main loop, while busy: when the worker has finished, or kRankStepMs on the
// game's clock have passed since the step started (the worker is then left to
// end on its own), applies the outcome, clears busy, runs the continuation and
// returns true. Never blocks.
bool PollRankExchange(Game& g);
// Waits up to timeout_ms (negative: without limit) for the worker, then polls.
// The simulator uses it so every exchange ends before the next frame.
bool WaitRankExchange(Game& g, int timeout_ms = -1);
// The window is closing: the game stops waiting. The worker keeps what it
// needs and ends on its own; its outcome is dropped.
void AbandonRankExchange(Game& g);

// Index of the player's own entry in the table (name and id), -1 when none.
int OwnRankIndex(const Game& g);

// The ranking server from server.txt: nullopt when the file does not exist
// (or holds no host), the host otherwise. A line that is not a plain host or
// host:port gives "" (the exchange then fails as against a dead server).
std::optional<std::string> ReadServerHost(const Game& g);
// Whether text is a plain host name, IPv4 address or [IPv6] address with an
// optional ":port" (1..65535), and nothing that could change the URL.
bool IsValidServerHost(std::string_view host);
