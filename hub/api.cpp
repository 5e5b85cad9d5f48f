#include "hub/api.h"

#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "core/digest.h"
#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/replay_codec.h"

using Json = nlohmann::json;

namespace {

// What hub_name_ok takes, as the refusals say it.
constexpr const char* NAME_RULE =
    "a name is 1 to 32 characters, not only spaces or invisible ones, and none of them a control "
    "or direction character";
constexpr const char* TITLE_RULE =
    "a title is 1 to 32 characters, not only spaces or invisible ones, and none of them a control "
    "or direction character";

// JSON text of value; invalid UTF-8 in a stored text is replaced rather than thrown over.
// "<", ">" and "&" go as escapes too, so a player's text stays inert even where JSON is pasted
// into a page.
std::string json_text(const Json& value) {
  const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      safe += "\\u003c";
    } else if (c == '>') {
      safe += "\\u003e";
    } else if (c == '&') {
      safe += "\\u0026";
    } else {
      safe += c;
    }
  }
  return safe;
}

HubResponse answer(int status, const Json& body) {
  HubResponse response;
  response.status = status;
  response.body = json_text(body);
  return response;
}

HubResponse failure(int status, const std::string& message) {
  return answer(status, Json{{"error", message}});
}

HubResponse no_content() {
  HubResponse response;
  response.status = 204;
  response.content_type.clear();
  return response;
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Takes one request from the bucket named name; false when it is empty.
bool take_token(Hub& hub, const std::string& name) {
  const double rate = hub.limits.requests_per_second;
  if (rate <= 0) return true;
  const double now = seconds_now();
  std::lock_guard lock(hub.rate_mutex);
  // Buckets that have filled up again say nothing: forgotten when there are many.
  if (hub.buckets.size() > 100000) {
    for (auto it = hub.buckets.begin(); it != hub.buckets.end();) {
      it = now - it->second.at > 5 ? hub.buckets.erase(it) : std::next(it);
    }
  }
  auto [it, fresh] = hub.buckets.try_emplace(name, Hub::Bucket{rate * 5, now});
  Hub::Bucket& bucket = it->second;
  if (!fresh) bucket.tokens = std::min(rate * 5, bucket.tokens + (now - bucket.at) * rate);
  bucket.at = now;
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

HubResponse too_many(const std::string& message) {
  HubResponse response = failure(429, message);
  response.headers.push_back({"Retry-After", "1"});
  return response;
}

// The request's path split at its slashes ("/api/packs/x" -> "api", "packs", "x").
std::vector<std::string> path_parts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= path.size()) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  return parts;
}

bool is_pack_id(const std::string& id) {
  return id == HUB_BUILTIN || (id.size() == 64 && std::all_of(id.begin(), id.end(), [](char c) {
                                 return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                               }));
}

// A whole positive number of at most 15 digits; 0 when it is not one.
int64_t positive_number(const std::string& text) {
  if (text.empty() || text.size() > 15) return 0;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The id of the player the request's key names, if any. A key names the same player for good,
// so the ids found are kept: most requests carry a key, and each would otherwise cost the
// database a read before its own work.
std::optional<int64_t> caller(Hub& hub, const HubRequest& request) {
  const std::string prefix = "Bearer ";
  if (request.authorization.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string key = request.authorization.substr(prefix.size());
  if (key.size() != 64) return std::nullopt;
  const std::string hash = sha256_hex(key);
  {
    std::lock_guard lock(hub.players_mutex);
    if (const auto found = hub.player_ids.find(hash); found != hub.player_ids.end())
      return found->second;
  }
  const std::optional<StorePlayer> player = hub.store.player_by_key(hash);
  if (!player) return std::nullopt;
  std::lock_guard lock(hub.players_mutex);
  if (hub.player_ids.size() >= HUB_PLAYER_IDS_KEPT) hub.player_ids.clear();
  hub.player_ids.emplace(hash, player->id);
  return player->id;
}

// Parses body as a JSON object; false (with the answer in refusal) when it is not one.
bool read_object(const HubRequest& request, size_t limit, Json& object, HubResponse& refusal) {
  if (request.body.size() > limit) {
    refusal = failure(413, "the body is larger than " + std::to_string(limit) + " bytes");
    return false;
  }
  object = Json::parse(request.body, nullptr, false);
  if (object.is_discarded() || !object.is_object()) {
    refusal = failure(400, "the body is not a JSON object");
    return false;
  }
  return true;
}

// The string field name of object, when it is one.
std::optional<std::string> string_field(const Json& object, const char* name) {
  const auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// The first line the intro shows, cue characters taken off.
std::string first_line_of(const LevelPack& pack) {
  for (const PackLine& line : pack.intro) {
    std::string text = line.text;
    if (text.empty() || text[0] == '&' || text[0] == '*' || text[0] == '~') continue;
    text.erase(0, text.find_first_not_of("#$%"));
    if (!text.empty()) return text;
  }
  return "";
}

// --- The built-in levels as a pack ---

struct Builtin {
  StorePack pack;
  std::vector<StoreLevel> levels;
};

StoreLevel level_of(const LevelReport& report) {
  return {report.level,      report.edge_frame, report.enclosure_cells, report.best_score_bound,
          report.best_score, report.best_proven};
}

const Builtin& builtin() {
  static const Builtin BUILTIN = [] {
    Builtin kept;
    const LevelStream& stream = level_stream_builtin();
    kept.pack.id = HUB_BUILTIN;
    kept.pack.title = "Q-47";
    kept.pack.first_line = first_line_of(level_pack_from_stream(stream));
    kept.pack.levels = level_count(stream);
    kept.pack.level_data_hash = replay_level_data_hash(stream);
    kept.pack.level_data_size = static_cast<uint32_t>(stream.bytes.size());
    for (int32_t level = 1; level <= kept.pack.levels; ++level) {
      kept.levels.push_back(level_of(level_check_exact(stream, level)));
    }
    return kept;
  }();
  return BUILTIN;
}

std::optional<StorePack> find_pack(Hub& hub, const std::string& id, bool with_text) {
  if (id == HUB_BUILTIN) return builtin().pack;
  return hub.store.pack(id, with_text);
}

std::vector<StoreLevel> find_levels(Hub& hub, const std::string& id) {
  if (id == HUB_BUILTIN) return builtin().levels;
  return hub.store.pack_levels(id);
}

Json or_null(int64_t value) { return value < 0 ? Json(nullptr) : Json(value); }

Json summary_json(const StorePackSummary& summary) {
  const StorePack& pack = summary.pack;
  return Json{{"pack", pack.id},
              {"title", pack.title},
              {"author", pack.author},
              {"author_name", pack.author_name},
              {"levels", pack.levels},
              {"published", pack.published},
              {"plays", summary.plays},
              {"rating", summary.ratings ? Json(summary.rating) : Json(nullptr)},
              {"ratings", summary.ratings},
              {"first_line", pack.first_line}};
}

// Whether some verified run reached the level's bound.
bool proven_best(const std::vector<std::pair<int32_t, int64_t>>& counts, int32_t bound) {
  return bound >= 0 && !counts.empty() && counts.back().first >= bound;
}

// The best possible score of a level and how it is known: "solver" when the exact search's run
// met the bound, "player" when a player's verified run did, "bound" when nobody has (yet).
Json best_possible(const StoreLevel& level,
                   const std::vector<std::pair<int32_t, int64_t>>& counts) {
  const char* by = level.best_proven                  ? "solver"
                   : proven_best(counts, level.bound) ? "player"
                                                      : "bound";
  return Json{{"score", or_null(level.best_proven ? level.best : level.bound)}, {"by", by}};
}

// --- Players ---

// The player's name a request's body gives, or the refusal to answer with.
std::optional<std::string> name_of(Hub& hub, const HubRequest& request, HubResponse& refusal) {
  Json body;
  if (!read_object(request, hub.limits.small_body, body, refusal)) return std::nullopt;
  std::optional<std::string> name = string_field(body, "name");
  if (!name || !hub_name_ok(*name)) {
    refusal = failure(422, NAME_RULE);
    return std::nullopt;
  }
  return name;
}

HubResponse add_player(Hub& hub, const HubRequest& request) {
  HubResponse refusal;
  const std::optional<std::string> name = name_of(hub, request, refusal);
  if (!name) return refusal;
  const int64_t day = hub.clock() / 86400 * 86400;
  if (hub.store.count("players " + request.address, day, 1) > hub.limits.players_per_address_day) {
    return too_many("too many new players from this address today");
  }
  const std::string key = random_key();
  const int64_t id = hub.store.add_player(*name, sha256_hex(key), hub.clock());
  return answer(201, Json{{"player", id}, {"key", key}, {"name", *name}});
}

HubResponse me(Hub& hub, const HubRequest& request, int64_t player) {
  if (request.method == "GET") {
    const std::optional<StorePlayer> found = hub.store.player(player);
    if (!found) return failure(404, "no such player");
    return answer(200, Json{{"player", player}, {"name", found->name}});
  }
  HubResponse refusal;
  const std::optional<std::string> name = name_of(hub, request, refusal);
  if (!name) return refusal;
  hub.store.rename_player(player, *name);
  return answer(200, Json{{"player", player}, {"name", *name}});
}

// --- Packs ---

// Whether the processor time spent this hour on player's runs, or on runs from the request's
// address, is used up; refusal is then the 429 to answer, with the seconds left in the hour.
bool over_budget(Hub& hub, const HubRequest& request, int64_t player, HubResponse& refusal) {
  const int64_t now = hub.clock();
  const int64_t window = now / VERIFY_BUDGET_WINDOW * VERIFY_BUDGET_WINDOW;
  const char* whose = nullptr;
  if (hub.store.counted(verify_budget_key(player), window) >=
      static_cast<int64_t>(hub.limits.cpu_seconds_per_key_hour * 1000)) {
    whose = "this player's";
  } else if (!request.address.empty() &&
             hub.store.counted(verify_budget_address(request.address), window) >=
                 static_cast<int64_t>(hub.limits.cpu_seconds_per_address_hour * 1000)) {
    whose = "this address's";
  }
  if (!whose) return false;
  const int64_t wait = window + VERIFY_BUDGET_WINDOW - now;
  refusal =
      failure(429, std::string("the processor time for ") + whose +
                       " runs this hour is used up; try again in " + std::to_string(wait) + " s");
  refusal.headers.push_back({"Retry-After", std::to_string(wait)});
  return true;
}

// The checks of a publication that cost little, made while the request waits: its shape, the
// limits, the pack it replaces and whether it is published already. The rest (reading the
// pack, the checker and each proof run) is a job for a worker; the answer is 202 and the job's
// address.
HubResponse publish(Hub& hub, const HubRequest& request, int64_t player) {
  Json body;
  HubResponse refusal;
  if (!read_object(request, hub.limits.pack_body, body, refusal)) return refusal;
  const std::optional<std::string> text = string_field(body, "pack");
  const auto runs = body.find("runs");
  if (!text || runs == body.end() || !runs->is_array()) {
    return failure(400, "a pack is published as {\"pack\": TEXT, \"runs\": [BASE64, ...]}");
  }
  // Every publication asked for counts, published or refused: a refused one cost as much.
  const int64_t day_ago = hub.clock() - 86400;
  if (std::max(hub.store.packs_published_since(player, day_ago),
               hub.store.jobs_since(player, JOB_PUBLISH, day_ago)) >=
      hub.limits.packs_per_key_day) {
    return too_many("too many packs published by this player today");
  }
  if (over_budget(hub, request, player, refusal)) return refusal;
  if (text->size() > PACK_FILE_MAX)
    return failure(413, std::string("the pack is ") + PACK_TOO_LARGE);
  if (const std::optional<std::string> old = string_field(body, "replaces")) {
    const std::optional<StorePack> previous =
        is_pack_id(*old) && *old != HUB_BUILTIN ? hub.store.pack(*old, false) : std::nullopt;
    if (!previous) return failure(404, "the pack it replaces does not exist");
    if (previous->author != player) return failure(403, "only its author can update a pack");
  }
  const std::string id = sha256_hex(*text);
  if (hub.store.pack(id, false)) {
    return answer(409, Json{{"error", "this pack is published already"}, {"pack", id}});
  }
  const int64_t job =
      hub.store.add_job(JOB_PUBLISH, player, request.address, request.body, hub.clock());
  if (hub.queue_job) hub.queue_job();
  HubResponse queued = answer(202, Json{{"job", job}, {"status", JOB_QUEUED}});
  queued.headers.push_back({"Location", "/api/jobs/" + std::to_string(job)});
  return queued;
}

// A publication's refusal: the error, the HTTP status the hub would have answered it with, and
// the level it is about (0: none).
Json publish_refusal(int status, const std::string& error, int32_t level = 0) {
  Json result{{"error", error}, {"http_status", status}};
  if (level > 0) result["level"] = level;
  return result;
}

// A publication's work, the payload its request's body: the pack read and checked, each level's
// proof run, the pack and its proofs stored. What it came to, as in publish_refusal or
// {"pack", "levels", "http_status": 201}.
Json publish_work(Hub& hub, const StoreJob& job) {
  const Json body = Json::parse(job.payload, nullptr, false);
  const std::optional<std::string> text =
      body.is_object() ? string_field(body, "pack") : std::nullopt;
  const auto runs = body.is_object() ? body.find("runs") : body.end();
  if (!text || runs == body.end() || !runs->is_array()) {
    return publish_refusal(400, "a pack is published as {\"pack\": TEXT, \"runs\": [BASE64, ...]}");
  }
  LevelPack parsed;
  std::vector<PackProblem> problems;
  if (!level_pack_parse(*text, parsed, problems)) {
    std::string message = level_pack_problems_text("pack", problems);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return publish_refusal(422, message);
  }
  const int32_t levels = static_cast<int32_t>(parsed.levels.size());
  if (static_cast<int64_t>(runs->size()) != levels) {
    return publish_refusal(422, "one winning run for each level: the pack has " +
                                    std::to_string(levels) + " levels, " +
                                    std::to_string(runs->size()) + " runs came");
  }
  std::string title = first_line_of(parsed);
  if (const std::optional<std::string> given = string_field(body, "title")) {
    if (!hub_name_ok(*given) && !given->empty()) return publish_refusal(422, TITLE_RULE);
    if (!given->empty()) title = *given;
  }
  const std::string id = sha256_hex(*text);
  const LevelStream stream = level_pack_compile(parsed);
  std::vector<StoreRun> proofs;
  std::vector<std::vector<uint8_t>> replays;
  for (int32_t level = 1; level <= levels; ++level) {
    const Json& run = (*runs)[static_cast<size_t>(level - 1)];
    std::vector<uint8_t> bytes;
    if (!run.is_string() || !base64_decode(run.get<std::string>(), bytes)) {
      return publish_refusal(422, "run " + std::to_string(level) + " is not base64 text", level);
    }
    StoreRun proof = verify_replay(bytes, stream, hub.verify);
    const bool won = std::any_of(proof.levels.begin(), proof.levels.end(),
                                 [&](const StoreRunLevel& won) { return won.level == level; });
    if (proof.status != RUN_VERIFIED || !won) {
      const std::string why = proof.status == RUN_VERIFIED
                                  ? "it does not win level " + std::to_string(level)
                                  : proof.reason;
      return publish_refusal(422, "run " + std::to_string(level) + ": " + why, level);
    }
    proofs.push_back(std::move(proof));
    replays.push_back(std::move(bytes));
  }
  StorePack pack;
  pack.id = id;
  pack.author = job.player;
  pack.title = title;
  pack.first_line = first_line_of(parsed);
  pack.published = hub.clock();
  pack.replaces = string_field(body, "replaces").value_or("");
  pack.levels = levels;
  pack.level_data_hash = replay_level_data_hash(stream);
  pack.level_data_size = static_cast<uint32_t>(stream.bytes.size());
  pack.text = *text;
  std::vector<StoreLevel> checked;
  for (int32_t level = 1; level <= levels; ++level) {
    checked.push_back(level_of(level_check(stream, level)));
  }
  if (!hub.store.add_pack(pack, checked)) {
    Json result = publish_refusal(409, "this pack is published already");
    result["pack"] = id;
    return result;
  }
  // The author's proofs are runs like any other: they count in the histograms.
  for (size_t i = 0; i < proofs.size(); ++i) {
    StoreRun& proof = proofs[i];
    proof.id = hub.store.add_run(job.player, id, replays[i], pack.published, job.address);
    proof.player = job.player;
    proof.pack = id;
    hub.store.finish_run(proof);
  }
  // Its best scores are searched by a job of their own: publication does not wait for them.
  hub.store.add_job(JOB_EXACT_BEST, job.player, job.address, id, hub.clock());
  if (hub.queue_job) hub.queue_job();
  return Json{{"pack", id}, {"levels", levels}, {"http_status", 201}};
}

// The exact search of a published pack's best scores, within the pack's budget of work, on a
// thread of its own at the lowest priority: a pack's best never takes the processor from the
// runs being verified or the requests being answered. Each level's best and proof are kept.
Json exact_best_work(Hub& hub, const StoreJob& job) {
  const std::shared_ptr<const LevelStream> stream = verify_stream(hub.store, job.payload);
  if (!stream) return publish_refusal(404, "no such pack");
  const int32_t levels = level_count(*stream);
  std::vector<LevelReport> found;
  std::thread search([&] {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    for (int32_t level = 1; level <= levels; ++level) {
      found.push_back(
          level_check_exact(*stream, level, hub.limits.exact_work_per_pack / std::max(levels, 1)));
    }
  });
  search.join();
  Json rows = Json::array();
  for (const LevelReport& report : found) {
    hub.store.set_level_best(job.payload, report.level, report.best_score, report.best_proven);
    rows.push_back(Json{{"level", report.level},
                        {"best", or_null(report.best_score)},
                        {"proven", report.best_proven}});
  }
  return Json{{"pack", job.payload}, {"levels", rows}, {"http_status", 200}};
}

HubResponse show_job(Hub& hub, const std::string& id_text) {
  const int64_t id = positive_number(id_text);
  const std::optional<StoreJob> job = id ? hub.store.job(id, false) : std::nullopt;
  if (!job) return failure(404, "no such job");
  Json body = Json::parse(job->result, nullptr, false);
  if (!body.is_object()) body = Json::object();
  body["job"] = job->id;
  body["kind"] = job->kind;
  body["status"] = job->status == JOB_QUEUED && job->lease_until >= hub.clock()
                       ? std::string("running")
                       : job->status;
  return answer(200, body);
}

// The day's pack, the same all day for everyone and in every process: of the packs published
// before the day began, the one whose id hashed with the day is least. A pack published during
// the day, or another withdrawn, leaves it as it is; only withdrawing the pick itself moves it
// to the next. Worked out at most once a minute per process (the lists' figures in it as old).
std::optional<StorePackSummary> daily_pick(Hub& hub) {
  const int64_t now = hub.clock();
  const int64_t day = now / 86400;
  std::lock_guard lock(hub.daily_mutex);
  if (hub.daily_day != day || now - hub.daily_at >= 60) {
    hub.daily.reset();
    std::string least;
    for (StorePackSummary& summary :
         hub.store.list_packs(PackOrder::OLDEST, 0, 0, hub.store.pack_count())) {
      if (summary.pack.published >= day * 86400) break;
      const std::string mark = sha256_hex(std::to_string(day) + " " + summary.pack.id);
      if (hub.daily && mark >= least) continue;
      least = mark;
      hub.daily = std::move(summary);
    }
    hub.daily_day = day;
    hub.daily_at = now;
  }
  return hub.daily;
}

HubResponse list_packs(Hub& hub, const HubRequest& request) {
  const auto sort = request.query.find("sort");
  const std::string order = sort == request.query.end() ? "newest" : sort->second;
  int64_t limit = 20;
  if (const auto given = request.query.find("limit"); given != request.query.end()) {
    limit = positive_number(given->second);
    if (limit < 1 || limit > 100) return failure(400, "limit is a number from 1 to 100");
  }
  std::vector<StorePackSummary> packs;
  if (order == "newest") {
    packs = hub.store.list_packs(PackOrder::NEWEST, 0, 0, limit);
  } else if (order == "played") {
    packs = hub.store.list_packs(PackOrder::PLAYED, 0, 0, limit);
  } else if (order == "rated") {
    packs = hub.store.list_packs(PackOrder::RATED, 0, 0, limit);
  } else if (order == "random") {
    packs = hub.store.list_packs(PackOrder::RANDOM, 0, 0, limit);
  } else if (order == "unplayed") {
    const std::optional<int64_t> player = caller(hub, request);
    if (!player) return failure(401, "sort=unplayed needs a player's key");
    packs = hub.store.list_packs(PackOrder::UNPLAYED, *player, 0, limit);
  } else if (order == "daily") {
    if (std::optional<StorePackSummary> pick = daily_pick(hub)) packs.push_back(*pick);
  } else {
    return failure(400, "sort is newest, played, rated, unplayed, random or daily");
  }
  Json list = Json::array();
  for (const StorePackSummary& pack : packs) list.push_back(summary_json(pack));
  return answer(200, Json{{"packs", list}});
}

HubResponse show_pack(Hub& hub, const std::string& id) {
  const std::optional<StorePack> pack = find_pack(hub, id, false);
  if (!pack) return failure(404, "no such pack");
  Json levels = Json::array();
  for (const StoreLevel& level : find_levels(hub, id)) {
    levels.push_back(
        Json{{"level", level.level},
             {"edge_frame", or_null(level.edge_frame)},
             {"enclosure", or_null(level.enclosure)},
             {"bound", or_null(level.bound)},
             {"proven_best", proven_best(hub.store.histogram(id, level.level), level.bound)}});
  }
  return answer(200,
                Json{{"pack", pack->id},
                     {"title", pack->title},
                     {"author", pack->author},
                     {"author_name", pack->author_name},
                     {"published", pack->published},
                     {"replaces", pack->replaces.empty() ? Json(nullptr) : Json(pack->replaces)},
                     {"withdrawn", pack->withdrawn},
                     {"first_line", pack->first_line},
                     {"levels", levels}});
}

HubResponse pack_file(Hub& hub, const std::string& id) {
  HubResponse response;
  if (id == HUB_BUILTIN) {
    response.body = level_pack_format(level_pack_from_stream(level_stream_builtin()));
  } else {
    const std::optional<StorePack> pack = hub.store.pack(id, true);
    if (!pack) return failure(404, "no such pack");
    response.body = pack->text;
  }
  response.content_type = "text/plain; charset=utf-8";
  return response;
}

HubResponse withdraw(Hub& hub, const std::string& id, int64_t player) {
  const std::optional<StorePack> pack =
      id == HUB_BUILTIN ? std::nullopt : hub.store.pack(id, false);
  if (!pack) return failure(404, "no such pack");
  if (pack->author != player) return failure(403, "only its author can withdraw a pack");
  hub.store.withdraw_pack(id);
  return no_content();
}

// --- Runs ---

HubResponse submit_run(Hub& hub, const HubRequest& request, int64_t player) {
  Json body;
  HubResponse refusal;
  if (!read_object(request, hub.limits.run_body, body, refusal)) return refusal;
  const std::optional<std::string> pack_id = string_field(body, "pack");
  const std::optional<std::string> replay = string_field(body, "replay");
  if (!pack_id || !replay) {
    return failure(400, "a run is sent as {\"pack\": PACK_ID, \"replay\": BASE64}");
  }
  const std::optional<StorePack> pack =
      is_pack_id(*pack_id) ? find_pack(hub, *pack_id, false) : std::nullopt;
  if (!pack) return failure(404, "no such pack");
  if (pack->withdrawn) return failure(410, "the pack was withdrawn by its author");
  std::vector<uint8_t> bytes;
  if (!base64_decode(*replay, bytes)) return failure(400, "the replay is not base64 text");
  if (bytes.size() > hub.verify.replay_bytes) {
    return failure(
        413, "the replay is larger than " + std::to_string(hub.verify.replay_bytes) + " bytes");
  }
  if (HubResponse spent; over_budget(hub, request, player, spent)) return spent;
  if (hub.store.queued_runs_of(player) >= hub.limits.queued_runs_per_key) {
    // Room comes back as the queue moves: a run takes a worker seconds at most.
    HubResponse response =
        failure(429, "this player has " + std::to_string(hub.limits.queued_runs_per_key) +
                         " runs waiting to be verified; send more once they are");
    response.headers.push_back({"Retry-After", "10"});
    return response;
  }
  const int64_t id = hub.store.add_run(player, *pack_id, bytes, hub.clock(), request.address);
  if (hub.queue_run) hub.queue_run(id);
  return answer(202, Json{{"run", id}, {"status", RUN_QUEUED}});
}

HubResponse show_run(Hub& hub, const std::string& id_text) {
  const int64_t id = positive_number(id_text);
  const std::optional<StoreRun> run = id ? hub.store.run(id, false) : std::nullopt;
  if (!run) return failure(404, "no such run");
  Json levels = Json::array();
  for (const StoreRunLevel& level : run->levels) {
    levels.push_back(Json{{"level", level.level}, {"score", level.score}});
  }
  Json body{{"run", run->id},
            {"player", run->player},
            {"pack", run->pack},
            {"status", run->status},
            {"submitted", run->submitted},
            {"levels", levels},
            {"frames", run->frames},
            {"checksum", replay_hex(run->checksum)}};
  if (run->status == RUN_REFUSED) body["reason"] = run->reason;
  return answer(200, body);
}

// --- Levels ---

HubResponse level_route(Hub& hub, const HubRequest& request,
                        const std::vector<std::string>& parts) {
  const std::string& id = parts[2];
  const std::optional<StorePack> pack = is_pack_id(id) ? find_pack(hub, id, false) : std::nullopt;
  if (!pack) return failure(404, "no such pack");
  const int64_t level = positive_number(parts[3]);
  if (level < 1 || level > pack->levels) return failure(404, "no such level");
  const int32_t n = static_cast<int32_t>(level);
  if (parts[4] == "histogram") {
    if (request.method != "GET") return failure(405, "use GET");
    const std::optional<int64_t> player = caller(hub, request);
    const auto [counts, best] = hub.store.standing(id, n, player.value_or(0));
    StoreLevel found;
    for (const StoreLevel& kept : find_levels(hub, id)) {
      if (kept.level == n) found = kept;
    }
    const int32_t bound = found.bound;
    Json rows = Json::array();
    int64_t players = 0;
    for (const auto& [score, count] : counts) {
      rows.push_back(Json::array({score, count}));
      players += count;
    }
    Json mine = nullptr;
    if (best) mine = *best;
    return answer(200, Json{{"counts", rows},
                            {"bound", or_null(bound)},
                            {"proven_best", proven_best(counts, bound)},
                            {"best_possible", best_possible(found, counts)},
                            {"mine", mine},
                            {"players", players}});
  }
  if (parts[4] == "rating") {
    if (request.method != "POST") return failure(405, "use POST");
    const std::optional<int64_t> player = caller(hub, request);
    if (!player) return failure(401, "rating needs a player's key");
    Json body;
    HubResponse refusal;
    if (!read_object(request, hub.limits.small_body, body, refusal)) return refusal;
    const auto stars = body.find("stars");
    if (stars == body.end() || !stars->is_number_integer() || *stars < 1 || *stars > 5) {
      return failure(422, "stars is a whole number from 1 to 5");
    }
    if (!hub.store.best(*player, id, n)) {
      return failure(403, "only a player with a verified win of the level can rate it");
    }
    hub.store.rate(*player, id, n, stars->get<int32_t>());
    return no_content();
  }
  return failure(404, "no such path");
}

// A pack's page without script: its title, author and levels with what players reached, the
// text alternative of the histograms the hub's page draws. Every player's text is escaped.
HubResponse pack_page(Hub& hub, const std::string& id) {
  const std::optional<StorePack> pack = is_pack_id(id) ? find_pack(hub, id, false) : std::nullopt;
  HubResponse response;
  response.content_type = "text/html; charset=utf-8";
  if (!pack) {
    response.status = 404;
    response.body = "<!doctype html><title>No such pack</title><p>No such pack.</p>\n";
    return response;
  }
  // A player's words are isolated from the page's own, whatever direction they run in: <bdi>
  // in the body, the isolate characters (U+2068 ... U+2069) in the title, which holds only text.
  const std::string title = html_escape(pack->title);
  std::string html =
      "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>"
      "\u2068" +
      title + "\u2069 - Q-47 hub</title>\n<link rel=\"stylesheet\" href=\"/hub.css\">\n" +
      "</head><body><main>\n<h1><bdi>" + title + "</bdi></h1>\n<p>By <bdi>" +
      html_escape(pack->author_name.empty() ? "the game" : pack->author_name) + "</bdi>" +
      (pack->withdrawn ? " (withdrawn by its author)" : "") + ". <a href=\"/api/packs/" + pack->id +
      "/file\">The pack</a>, <a href=\"/play/?levels=/api/packs/" + pack->id +
      "/file\">play it</a>.</p>\n<table>\n<tr><th>level</th><th>best possible</th>"
      "<th>players by best score</th></tr>\n";
  for (const StoreLevel& level : find_levels(hub, id)) {
    const std::vector<std::pair<int32_t, int64_t>> counts = hub.store.histogram(id, level.level);
    std::string players;
    for (const auto& [score, count] : counts) {
      players +=
          (players.empty() ? "" : ", ") + std::to_string(count) + " at " + std::to_string(score);
    }
    html += "<tr><td>" + std::to_string(level.level) + "</td><td>" + std::to_string(level.bound) +
            (level.best_proven                  ? " (proven)"
             : proven_best(counts, level.bound) ? " (reached)"
                                                : "") +
            "</td><td>" + (players.empty() ? "none yet" : players) + "</td></tr>\n";
  }
  html += "</table>\n<p><a href=\"/\">All packs</a></p>\n</main></body></html>\n";
  response.body = html;
  return response;
}

HubResponse route(Hub& hub, const HubRequest& request) {
  const std::vector<std::string> parts = path_parts(request.path);
  if (parts.size() == 2 && parts[0] == "packs") {
    if (request.method != "GET") return failure(405, "use GET");
    return pack_page(hub, parts[1]);
  }
  if (parts.size() < 2 || parts[0] != "api") return failure(404, "no such path");
  const std::string& method = request.method;
  const std::string& what = parts[1];
  // Every path that needs a key checks it the same way.
  auto with_player = [&](auto handle) -> HubResponse {
    const std::optional<int64_t> player = caller(hub, request);
    if (!player) return failure(401, "this needs a player's key: Authorization: Bearer KEY");
    return handle(*player);
  };
  if (what == "players" && parts.size() == 2) {
    if (method != "POST") return failure(405, "use POST");
    return add_player(hub, request);
  }
  if (what == "players" && parts.size() == 3 && parts[2] == "me") {
    if (method != "GET" && method != "PUT") return failure(405, "use GET or PUT");
    return with_player([&](int64_t player) { return me(hub, request, player); });
  }
  if (what == "packs" && parts.size() == 2) {
    if (method == "GET") return list_packs(hub, request);
    if (method == "POST") {
      return with_player([&](int64_t player) { return publish(hub, request, player); });
    }
    return failure(405, "use GET or POST");
  }
  if (what == "packs" && (parts.size() == 3 || parts.size() == 4)) {
    const std::string& id = parts[2];
    if (!is_pack_id(id)) return failure(404, "no such pack");
    if (parts.size() == 4) {
      if (parts[3] != "file") return failure(404, "no such path");
      if (method != "GET") return failure(405, "use GET");
      return pack_file(hub, id);
    }
    if (method == "GET") return show_pack(hub, id);
    if (method == "DELETE") {
      return with_player([&](int64_t player) { return withdraw(hub, id, player); });
    }
    return failure(405, "use GET or DELETE");
  }
  if (what == "jobs" && parts.size() == 3) {
    if (method != "GET") return failure(405, "use GET");
    return show_job(hub, parts[2]);
  }
  if (what == "runs" && parts.size() == 2) {
    if (method != "POST") return failure(405, "use POST");
    return with_player([&](int64_t player) { return submit_run(hub, request, player); });
  }
  if (what == "runs" && parts.size() == 3) {
    if (method != "GET") return failure(405, "use GET");
    return show_run(hub, parts[2]);
  }
  if (what == "levels" && parts.size() == 5) return level_route(hub, request, parts);
  return failure(404, "no such path");
}

}  // namespace

void hub_warm_up() { builtin(); }

bool hub_do_job(Hub& hub, int64_t now) {
  const std::optional<StoreJob> job = hub.store.claim_job(now, now + hub.verify.lease_seconds);
  if (!job) return false;
  const double began = verify_thread_seconds();
  Json result;
  if (job->claims > hub.verify.max_claims) {
    result = publish_refusal(500, "it could not be done: " + std::to_string(hub.verify.max_claims) +
                                      " workers stopped on it");
  } else if (job->kind == JOB_PUBLISH) {
    result = publish_work(hub, *job);
  } else if (job->kind == JOB_EXACT_BEST) {
    result = exact_best_work(hub, *job);
  } else {
    result = publish_refusal(500, "this hub does not know jobs of kind " + job->kind);
  }
  const bool done = result.value("http_status", 0) / 100 == 2;
  hub.store.finish_job(job->id, done ? JOB_DONE : JOB_REFUSED, json_text(result));
  verify_charge(hub.store, job->player, job->address, verify_thread_seconds() - began, now);
  return true;
}

int64_t hub_clock() { return static_cast<int64_t>(std::time(nullptr)); }

HubResponse hub_handle(Hub& hub, const HubRequest& request) {
  if (!take_token(hub, "a:" + request.address))
    return too_many("too many requests from this address");
  if (request.authorization.size() > 7 &&
      !take_token(hub, "k:" + sha256_hex(request.authorization))) {
    return too_many("too many requests with this key");
  }
  try {
    return route(hub, request);
  } catch (const StoreError& error) {
    return failure(503, std::string("the hub's database failed: ") + error.what());
  }
}

std::string html_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string hub_forwarded_for(const std::string& header) {
  std::string last = header.substr(header.rfind(',') + 1);
  last.erase(0, last.find_first_not_of(" \t"));
  last.erase(last.find_last_not_of(" \t") + 1);
  if (last.empty() || last.size() > 45) return "";
  for (char c : last) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.' && c != ':') return "";
  }
  return last;
}

namespace {

// Whether code shows as nothing or as a space: a name of only these looks blank.
bool blank(uint32_t code) {
  return code == ' ' || code == 0xA0 || code == 0xAD || code == 0x34F || code == 0x115F ||
         code == 0x1160 || code == 0x1680 || code == 0x180E || (code >= 0x2000 && code <= 0x200D) ||
         code == 0x202F || code == 0x205F || (code >= 0x2060 && code <= 0x2064) || code == 0x2800 ||
         code == 0x3000 || code == 0x3164 || (code >= 0xFE00 && code <= 0xFE0F) || code == 0xFEFF ||
         code == 0xFFA0 || (code >= 0xE0000 && code <= 0xE0FFF);
}

}  // namespace

bool hub_name_ok(const std::string& name) {
  size_t characters = 0;
  bool only_spaces = true;
  for (size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    uint32_t code = 0;
    size_t length = 0;
    if (byte < 0x80) {
      code = byte;
      length = 1;
    } else if ((byte & 0xE0) == 0xC0) {
      code = byte & 0x1F;
      length = 2;
    } else if ((byte & 0xF0) == 0xE0) {
      code = byte & 0x0F;
      length = 3;
    } else if ((byte & 0xF8) == 0xF0) {
      code = byte & 0x07;
      length = 4;
    } else {
      return false;
    }
    if (i + length > name.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    static constexpr uint32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < SMALLEST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0x2028 || code == 0x2029) {
      return false;
    }
    // Direction controls would run a name on into the words around it wherever it is shown.
    if (code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
        (code >= 0x2066 && code <= 0x2069)) {
      return false;
    }
    if (!blank(code)) only_spaces = false;
    characters += 1;
    i += length;
  }
  return characters >= 1 && characters <= 32 && !only_spaces;
}

std::string random_key() {
  uint8_t bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("no random bytes: ") + std::strerror(errno));
    got += static_cast<size_t>(n);
  }
  return hex_of(bytes, sizeof bytes);
}
