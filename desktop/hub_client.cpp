#include "desktop/hub_client.h"

#ifndef _WIN32
// Only curl's types and names come from its header: the library itself is loaded at the first
// hub request, so a player who never uses a hub never pays for it at start-up.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>
#include <dlfcn.h>
#endif

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <type_traits>

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

constexpr const char* CURL_LIBRARY = "libcurl.so.4";

// libcurl's functions the client calls, found in the library when it is first needed.
struct Curl {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL* easy);
  void (*easy_reset)(CURL* easy);
  CURLcode (*easy_setopt)(CURL* easy, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* easy);
  CURLcode (*easy_getinfo)(CURL* easy, CURLINFO info, ...);
  const char* (*easy_strerror)(CURLcode code);
  curl_slist* (*slist_append)(curl_slist* list, const char* line);
  void (*slist_free_all)(curl_slist* list);
  CURLU* (*url)();
  CURLUcode (*url_set)(CURLU* parts, CURLUPart part, const char* text, unsigned flags);
  CURLUcode (*url_get)(const CURLU* parts, CURLUPart part, char** text, unsigned flags);
  void (*url_cleanup)(CURLU* parts);
  void (*free)(void* text);
};

// The library's functions, loaded once (from any thread); null with why in failure when the
// library is not on this system.
const Curl* curl_loaded(std::string& failure) {
  static std::once_flag once;
  static Curl curl{};
  static const Curl* loaded = nullptr;
  static std::string why;
  std::call_once(once, [] {
    void* library = dlopen(CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* reason = dlerror();
      why = std::string("talking to a hub needs ") + CURL_LIBRARY +
            " (Debian's libcurl4): " + (reason ? reason : "it cannot be loaded");
      return;
    }
    bool found = true;
    const auto find = [&](auto& function, const char* name) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)> >(dlsym(library, name));
      if (!function) {
        found = false;
        why = std::string(CURL_LIBRARY) + " has no " + name + "; it is too old for the hub client";
      }
    };
    find(curl.global_init, "curl_global_init");
    find(curl.easy_init, "curl_easy_init");
    find(curl.easy_cleanup, "curl_easy_cleanup");
    find(curl.easy_reset, "curl_easy_reset");
    find(curl.easy_setopt, "curl_easy_setopt");
    find(curl.easy_perform, "curl_easy_perform");
    find(curl.easy_getinfo, "curl_easy_getinfo");
    find(curl.easy_strerror, "curl_easy_strerror");
    find(curl.slist_append, "curl_slist_append");
    find(curl.slist_free_all, "curl_slist_free_all");
    find(curl.url, "curl_url");
    find(curl.url_set, "curl_url_set");
    find(curl.url_get, "curl_url_get");
    find(curl.url_cleanup, "curl_url_cleanup");
    find(curl.free, "curl_free");
    // Started once, here, before any thread makes a handle: curl's own start is not thread-safe.
    if (found && curl.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) loaded = &curl;
    if (found && !loaded) why = std::string(CURL_LIBRARY) + " could not start";
  });
  if (!loaded) failure = why;
  return loaded;
}

// Collects the answer's body, refusing more than HUB_ANSWER_MAX bytes (the transfer then fails).
size_t keep_body(char* data, size_t size, size_t count, void* user) {
  std::string& body = *static_cast<std::string*>(user);
  const size_t bytes = size * count;
  if (body.size() + bytes > HUB_ANSWER_MAX) return 0;
  body.append(data, bytes);
  return bytes;
}

}  // namespace

HubConnection::HubConnection() : handle_(std::make_unique<Handle>()) {}

HubConnection::~HubConnection() {
  std::string failure;
  if (handle_->easy) curl_loaded(failure)->easy_cleanup(handle_->easy);
}

HubAnswer HubConnection::request(const std::string& method, const std::string& url,
                                 const std::string& path, const std::string& body,
                                 const std::string& key) {
  HubAnswer answer;
  const Curl* curl = curl_loaded(answer.failure);
  if (!curl) return answer;
  if (!handle_->easy) handle_->easy = curl->easy_init();
  CURL* easy = handle_->easy;
  if (!easy) {
    answer.failure = "the HTTP library could not start";
    return answer;
  }
  curl->easy_reset(easy);
  const std::string full = url + path;
  curl->easy_setopt(easy, CURLOPT_URL, full.c_str());
  // Only the web's own protocols, never a redirect elsewhere: a key goes only where it was meant.
  curl->easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, HUB_CONNECT_SECONDS);
  curl->easy_setopt(easy, CURLOPT_TIMEOUT, HUB_REQUEST_SECONDS);
  curl->easy_setopt(easy, CURLOPT_MAXFILESIZE, static_cast<long>(HUB_ANSWER_MAX));
  curl->easy_setopt(easy, CURLOPT_USERAGENT, "q47/" Q47_VERSION);
  curl->easy_setopt(easy, CURLOPT_WRITEFUNCTION, keep_body);
  curl->easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
  curl->easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_slist* headers = nullptr;
  headers = curl->slist_append(headers, "Accept: application/json");
  if (!body.empty()) {
    headers = curl->slist_append(headers, "Content-Type: application/json");
    curl->easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  }
  const std::string authorization = "Authorization: Bearer " + key;
  if (!key.empty()) headers = curl->slist_append(headers, authorization.c_str());
  curl->easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  const CURLcode result = curl->easy_perform(easy);
  curl->slist_free_all(headers);
  if (result != CURLE_OK) {
    answer.failure = curl->easy_strerror(result);
    answer.body.clear();
    return answer;
  }
  curl->easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_off_t wait = 0;
  if (curl->easy_getinfo(easy, CURLINFO_RETRY_AFTER, &wait) == CURLE_OK && wait > 0) {
    answer.retry_after = static_cast<long>(wait);
  }
  return answer;
}

std::string hub_url_normal(const std::string& url, std::string& problem) {
  const Curl* curl = curl_loaded(problem);
  if (!curl) return {};
  CURLU* parts = curl->url();
  std::string normal;
  if (curl->url_set(parts, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    problem = "'" + url + "' is not a URL (such as " + HUB_DEFAULT_URL + ")";
  } else {
    char* scheme = nullptr;
    char* query = nullptr;
    char* fragment = nullptr;
    curl->url_get(parts, CURLUPART_SCHEME, &scheme, 0);
    curl->url_get(parts, CURLUPART_QUERY, &query, 0);
    curl->url_get(parts, CURLUPART_FRAGMENT, &fragment, 0);
    const std::string kind = scheme ? scheme : "";
    if (kind != "http" && kind != "https") {
      problem = "'" + url + "' is not an http or https URL";
    } else if (query || fragment) {
      problem = "'" + url + "' has a query or fragment; a hub's URL is its address alone";
    } else {
      normal = url;
      while (!normal.empty() && normal.back() == '/') normal.pop_back();
    }
    curl->free(scheme);
    curl->free(query);
    curl->free(fragment);
  }
  curl->url_cleanup(parts);
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
