#include "desktop/hub_client.h"

#ifndef _WIN32
#include <curl/curl.h>
#endif

#include <cstdio>
#include <nlohmann/json.hpp>

#ifdef _WIN32
// The Windows program is built without an HTTP library: every request fails with this sentence,
// which --submit and publishing show as they show any transport's failure.
constexpr const char* HUB_NONE = "this build of Q-47 has no hub client (the Windows build)";

struct HubConnection::Handle {};

HubConnection::HubConnection() : handle_(std::make_unique<Handle>()) {}

HubConnection::~HubConnection() = default;

HubAnswer HubConnection::request(const std::string&, const std::string&, const std::string&,
                                 const std::string&, const std::string&) {
  HubAnswer answer;
  answer.failure = HUB_NONE;
  return answer;
}

// A hub's URL is still told from anything else, so a hub's link or --hub is taken for what it is
// and the request, not the parsing, says that this build cannot reach it.
std::string hub_url_normal(const std::string& url, std::string& problem) {
  const size_t scheme_end = url.find("://");
  const std::string scheme = scheme_end == std::string::npos ? "" : url.substr(0, scheme_end);
  if (scheme_end == std::string::npos || scheme_end + 3 >= url.size() ||
      url[scheme_end + 3] == '/') {
    problem = "'" + url + "' is not a URL (such as " + HUB_DEFAULT_URL + ")";
    return {};
  }
  if (scheme != "http" && scheme != "https") {
    problem = "'" + url + "' is not an http or https URL";
    return {};
  }
  if (url.find_first_of("?#") != std::string::npos) {
    problem = "'" + url + "' has a query or fragment; a hub's URL is its address alone";
    return {};
  }
  std::string normal = url;
  while (!normal.empty() && normal.back() == '/') normal.pop_back();
  return normal;
}
#else
struct HubConnection::Handle {
  CURL* easy = nullptr;  // one easy handle: its connection is reused from request to request
};

namespace {

// Collects the answer's body, refusing more than HUB_ANSWER_MAX bytes (the transfer then fails).
size_t keep_body(char* data, size_t size, size_t count, void* user) {
  std::string& body = *static_cast<std::string*>(user);
  const size_t bytes = size * count;
  if (body.size() + bytes > HUB_ANSWER_MAX) return 0;
  body.append(data, bytes);
  return bytes;
}

}  // namespace

HubConnection::HubConnection() : handle_(std::make_unique<Handle>()) {
  handle_->easy = curl_easy_init();
}

HubConnection::~HubConnection() {
  if (handle_->easy) curl_easy_cleanup(handle_->easy);
}

HubAnswer HubConnection::request(const std::string& method, const std::string& url,
                                 const std::string& path, const std::string& body,
                                 const std::string& key) {
  HubAnswer answer;
  CURL* easy = handle_->easy;
  if (!easy) {
    answer.failure = "the HTTP library could not start";
    return answer;
  }
  curl_easy_reset(easy);
  const std::string full = url + path;
  curl_easy_setopt(easy, CURLOPT_URL, full.c_str());
  // Only the web's own protocols, never a redirect elsewhere: a key goes only where it was meant.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, HUB_CONNECT_SECONDS);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, HUB_REQUEST_SECONDS);
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE, static_cast<long>(HUB_ANSWER_MAX));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "q47/" Q47_VERSION);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keep_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Accept: application/json");
  if (!body.empty()) {
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  }
  const std::string authorization = "Authorization: Bearer " + key;
  if (!key.empty()) headers = curl_slist_append(headers, authorization.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  const CURLcode result = curl_easy_perform(easy);
  curl_slist_free_all(headers);
  if (result != CURLE_OK) {
    answer.failure = curl_easy_strerror(result);
    answer.body.clear();
    return answer;
  }
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_off_t wait = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &wait) == CURLE_OK && wait > 0) {
    answer.retry_after = static_cast<long>(wait);
  }
  return answer;
}

std::string hub_url_normal(const std::string& url, std::string& problem) {
  CURLU* parts = curl_url();
  std::string normal;
  if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    problem = "'" + url + "' is not a URL (such as " + HUB_DEFAULT_URL + ")";
  } else {
    char* scheme = nullptr;
    char* query = nullptr;
    char* fragment = nullptr;
    curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(parts, CURLUPART_QUERY, &query, 0);
    curl_url_get(parts, CURLUPART_FRAGMENT, &fragment, 0);
    const std::string kind = scheme ? scheme : "";
    if (kind != "http" && kind != "https") {
      problem = "'" + url + "' is not an http or https URL";
    } else if (query || fragment) {
      problem = "'" + url + "' has a query or fragment; a hub's URL is its address alone";
    } else {
      normal = url;
      while (!normal.empty() && normal.back() == '/') normal.pop_back();
    }
    curl_free(scheme);
    curl_free(query);
    curl_free(fragment);
  }
  curl_url_cleanup(parts);
  return normal;
}
#endif

std::string hub_answer_error(const HubAnswer& answer) {
  const nlohmann::json parsed = nlohmann::json::parse(answer.body, nullptr, false);
  if (parsed.is_object() && parsed.contains("error") && parsed["error"].is_string()) {
    return parsed["error"].get<std::string>();
  }
  return "the hub answered " + std::to_string(answer.status) + " without a reason";
}
