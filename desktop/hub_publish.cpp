#include "desktop/hub_publish.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/digest.h"
#include "core/level_pack.h"
#include "desktop/hub_client.h"
#include "desktop/hub_link.h"
#include "desktop/submit.h"

namespace {

using Json = nlohmann::json;

bool hex_id(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

bool hub_fetch_pack(const std::string& link, std::string& text, std::string& problem) {
  std::string base, id;
  if (!hub_pack_link(link, base, id)) {
    problem = link +
              ": not a link to a hub's pack (http://HOST:PORT/packs/ID or .../api/packs/ID/file, "
              "ID the pack's 64-digit SHA-256)";
    return false;
  }
  HubConnection connection;
  const HubAnswer answer = connection.request("GET", base, "/api/packs/" + id + "/file", "", "");
  if (answer.status == 0) {
    problem = link + ": cannot reach the hub: " + answer.failure;
    return false;
  }
  if (answer.status != 200) {
    problem = link + ": " + hub_answer_error(answer);
    return false;
  }
  if (answer.body.size() > PACK_FILE_MAX) {
    problem = link + ": " + PACK_TOO_LARGE;
    return false;
  }
  // The id is the content's hash: a hub (or anything between) cannot hand over another pack.
  if (sha256_hex(answer.body) != id) {
    problem = link + ": what the hub sent is not the pack the link names (its SHA-256 differs)";
    return false;
  }
  text = answer.body;
  return true;
}

bool hub_publish(const std::string& text, const std::vector<Replay>& runs, std::string& address,
                 std::string& problem) {
  const std::string hub = submit_hub_url(problem);
  if (hub.empty()) return false;
  Json proofs = Json::array();
  for (const Replay& run : runs) {
    const std::vector<uint8_t> bytes = replay_encode(run);
    proofs.push_back(
        base64_encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
  }
  HubConnection connection;
  const std::string key = submit_key(connection, hub);
  if (key.empty()) {
    problem = "no key for the hub at " + hub + " (see the terminal)";
    return false;
  }
  HubAnswer answer = connection.request("POST", hub, "/api/packs",
                                        Json{{"pack", text}, {"runs", proofs}}.dump(), key);
  if (answer.status == 0) {
    problem = "cannot reach the hub at " + hub + ": " + answer.failure;
    return false;
  }
  Json parsed = Json::parse(answer.body, nullptr, false);
  // The hub checks the pack and its proofs as a job of its own: it answers 202 with the job,
  // which is asked after until it ends (a 99-level pack takes the checker half a minute), the
  // status it came to standing for the hub's answer.
  if (answer.status == 202 && parsed.is_object() && parsed.value("job", int64_t{0}) > 0) {
    const std::string job = "/api/jobs/" + std::to_string(parsed.value("job", int64_t{0}));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      answer = connection.request("GET", hub, job, "", "");
      if (answer.status == 0) {
        problem = "cannot reach the hub at " + hub + ": " + answer.failure;
        return false;
      }
      parsed = Json::parse(answer.body, nullptr, false);
      const std::string status = parsed.is_object() ? parsed.value("status", "") : "";
      if (answer.status != 200 || (status != "queued" && status != "running")) break;
      if (std::chrono::steady_clock::now() > give_up) {
        problem = "the hub took more than 3 minutes over the pack (" + hub + job + ")";
        return false;
      }
    }
    if (answer.status == 200 && parsed.is_object()) {
      answer.status = static_cast<int>(parsed.value("http_status", 0));
    }
  }
  const bool named = parsed.is_object() && parsed.contains("pack") && parsed["pack"].is_string() &&
                     hex_id(parsed["pack"].get<std::string>());
  // Published before (409) is published: its address is as good.
  if ((answer.status == 201 || answer.status == 409) && named) {
    address = hub + "/packs/" + parsed["pack"].get<std::string>();
    return true;
  }
  problem = hub_answer_error(answer);
  return false;
}
