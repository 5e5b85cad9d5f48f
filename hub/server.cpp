#include "hub/server.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// Content security policies: the API's answers are data, the hub's page runs its own script,
// the game's page also compiles its WebAssembly.
constexpr const char* CSP_API = "default-src 'none'; frame-ancestors 'none'";
constexpr const char* CSP_PAGE =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";
constexpr const char* CSP_GAME =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data: blob:; media-src 'self' blob:; object-src 'none'; base-uri 'self'; "
    "frame-ancestors 'self'";

// The largest file served from the page's or the game's folder (the game's WebAssembly is the
// largest, a few MiB).
constexpr std::streamoff FILE_MAX = 64 << 20;

// How long, and how much, a refused client may go on sending before its connection is closed.
constexpr int LINGER_SECONDS = 2;
constexpr size_t LINGER_BYTES = 1 << 20;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// text with %XX undone (and + as a space when plus_is_space); false for a bad escape or a NUL.
bool percent_decode(std::string_view text, bool plus_is_space, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      const int high = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    if (c == '\0') return false;
    out += c;
  }
  return true;
}

const char* content_type_of(const std::string& file) {
  static const std::pair<const char*, const char*> TYPES[] = {
      {".html", "text/html"},
      {".js", "text/javascript"},
      {".mjs", "text/javascript"},
      {".css", "text/css"},
      {".wasm", "application/wasm"},
      {".json", "application/json"},
      {".webmanifest", "application/manifest+json"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain"},
      {".q47l", "text/plain"},
      {".wav", "audio/wav"},
      {".ogg", "audio/ogg"},
      {".ttf", "font/ttf"},
      {".data", "application/octet-stream"}};
  for (const auto& [ending, type] : TYPES) {
    const size_t length = std::char_traits<char>::length(ending);
    if (file.size() >= length && file.compare(file.size() - length, length, ending) == 0) {
      return type;
    }
  }
  return "application/octet-stream";
}

// The peer's address as text: an IPv4 client of an IPv6 socket as plain IPv4.
std::string address_text(const tcp::endpoint& peer) {
  asio::ip::address address = peer.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// An answer in JSON, under the API's policy.
Response json_answer(int status, const std::string& body, unsigned version) {
  Response response{static_cast<http::status>(status), version};
  response.set(http::field::content_type, "application/json");
  response.set("Content-Security-Policy", CSP_API);
  response.set(http::field::cache_control, "no-store");
  response.body() = body;
  return response;
}

Response refusal(int status, const char* why, unsigned version = 11) {
  return json_answer(status, std::string("{\"error\": \"") + why + "\"}\n", version);
}

}  // namespace

bool server_target(const std::string& target, std::string& path,
                   std::map<std::string, std::string>& query) {
  if (target.empty() || target[0] != '/') return false;
  const size_t mark = target.find('?');
  if (!percent_decode(std::string_view(target).substr(0, mark), false, path)) return false;
  query.clear();
  if (mark == std::string::npos) return true;
  std::string_view rest = std::string_view(target).substr(mark + 1);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    std::string name;
    std::string value;
    if (!percent_decode(pair.substr(0, equals), true, name)) return false;
    if (equals != std::string_view::npos && !percent_decode(pair.substr(equals + 1), true, value)) {
      return false;
    }
    query.emplace(std::move(name), std::move(value));
  }
  return true;
}

HubRequest server_request(const std::string& method, const std::string& path,
                          std::map<std::string, std::string> query,
                          const std::string& authorization, const std::string& forwarded_for,
                          const std::string& peer, const std::string& trust_proxy,
                          std::string body) {
  HubRequest request;
  request.method = method;
  request.path = path;
  request.query = std::move(query);
  request.authorization = authorization;
  request.address = peer;
  if (!trust_proxy.empty() && peer == trust_proxy) {
    const std::string client = hub_forwarded_for(forwarded_for);
    if (!client.empty()) request.address = client;
  }
  request.body = std::move(body);
  return request;
}

std::string server_file(const std::string& root, const std::string& path) {
  if (path.empty() || path[0] != '/') return "";
  std::string file = root;
  bool folder = true;  // whether the path so far names a folder
  size_t at = 1;
  while (at <= path.size()) {
    const size_t slash = std::min(path.find('/', at), path.size());
    const std::string part = path.substr(at, slash - at);
    at = slash + 1;
    if (part.empty() || part == ".") {
      folder = true;
      continue;
    }
    // "..", hidden files and a backslash (a path on another system) are never served.
    if (part[0] == '.' || part.find('\\') != std::string::npos) return "";
    file += "/" + part;
    folder = false;
  }
  if (folder) file += "/index.html";
  return file;
}

// The listener's state: the I/O context, the pool that runs handlers, and the connections.
struct HubServer::State {
  State(Hub& on, const ServerConfig& with)
      : hub(on), config(with), handlers(with.handler_threads) {}
  Hub& hub;             // answers the API
  ServerConfig config;  // what and where to serve

  std::mutex connections_mutex;  // over open, idle and next_id
  size_t open = 0;               // connections being served
  // Connections waiting for a request's first byte by when they began to wait (the longest
  // waiting first), each with what closes it on its own strand.
  std::map<uint64_t, std::function<void()>> idle;
  uint64_t next_id = 1;  // orders the next connection that waits

  // Declared after what the connections touch as they go, so they go first.
  asio::io_context io;         // every socket's reads and writes
  tcp::acceptor acceptor{io};  // the listening socket
  asio::thread_pool handlers;  // hub_handle and file reads, never on the I/O thread

  // Frees a place for one more connection: true when there was one, or an idle one was closed.
  bool make_room() {
    std::function<void()> closer;
    {
      std::lock_guard guard(connections_mutex);
      if (open < config.max_connections) {
        ++open;
        return true;
      }
      if (idle.empty()) return false;
      closer = std::move(idle.begin()->second);
      idle.erase(idle.begin());
      ++open;  // the closed one leaves when its strand runs the closer
    }
    closer();
    return true;
  }
  void accept();
};

namespace {

// One client's connection, from its first byte to its close. Everything it does runs on its
// own strand.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(HubServer::State& server, tcp::socket&& socket)
      : server_(server), stream_(std::move(socket)), buffer_(SERVER_HEAD_BYTES + 1024) {
    beast::error_code error;
    const tcp::endpoint peer = stream_.socket().remote_endpoint(error);
    peer_ = error ? "" : address_text(peer);
    stream_.socket().set_option(tcp::no_delay(true), error);
  }
  ~Connection() {
    leave_idle();
    std::lock_guard guard(server_.connections_mutex);
    --server_.open;
  }

  void start() {
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->await(); });
  }

 private:
  // Waits for the next request's first byte: a new connection has the whole request's time for
  // it, a kept one the idle time.
  void await() {
    stream_.expires_after(
        std::chrono::seconds(served_ == 0 ? SERVER_REQUEST_SECONDS : SERVER_IDLE_SECONDS));
    if (buffer_.size() > 0) return begin();  // a pipelined request has begun already
    // A waiting connection keeps a small buffer only: thousands of them may wait.
    buffer_.shrink_to_fit();
    enter_idle();
    stream_.async_read_some(buffer_.prepare(512),
                            [self = shared_from_this()](beast::error_code error, size_t got) {
                              self->leave_idle();
                              if (error) return self->close();
                              self->buffer_.commit(got);
                              self->begin();
                            });
  }

  void begin() {
    leave_idle();
    if (served_ > 0) stream_.expires_after(std::chrono::seconds(SERVER_REQUEST_SECONDS));
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(SERVER_HEAD_BYTES));
    parser_->body_limit(HUB_BODY_MAX);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, size_t) { self->read_head(error); });
  }

  void read_head(beast::error_code error) {
    if (error) return refuse_after(error);
    const Request& head = parser_->get();
    if (static_cast<size_t>(std::distance(head.begin(), head.end())) > SERVER_HEAD_FIELDS) {
      unread_ = true;
      return finish(refusal(431, "too many header fields"), false);
    }
    // A body is read only up to what its path takes, so that thousands of connections cannot
    // each hold a publication's worth of bytes for a path that takes a few.
    const size_t limit = body_limit({head.target().data(), head.target().size()});
    parser_->body_limit(limit);
    if (const auto length = parser_->content_length(); length && *length > limit) {
      unread_ = true;
      return finish(refusal(413, "the body is too large"), false);
    }
    if (beast::iequals(head[http::field::expect], "100-continue")) {
      continue_.emplace(http::status::continue_, head.version());
      return http::async_write(stream_, *continue_,
                               [self = shared_from_this()](beast::error_code failed, size_t) {
                                 if (failed) return self->close();
                                 self->read_body();
                               });
    }
    read_body();
  }

  void read_body() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, size_t) {
                       if (error) return self->refuse_after(error);
                       self->dispatch();
                     });
  }

  // The largest body the request's path takes (the answers check again, path by path).
  size_t body_limit(std::string_view target) const {
    const HubLimits& limits = server_.hub.limits;
    if (target.rfind("/api/packs", 0) == 0) return std::max(limits.pack_body, limits.run_body);
    if (target.rfind("/api/runs", 0) == 0) return limits.run_body;
    return limits.small_body;
  }

  // A request that could not be read: refused when the client is still there to hear why.
  void refuse_after(beast::error_code error) {
    unread_ = true;
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
      return finish(refusal(431, "the request's head is too large"), false);
    }
    if (error == http::error::body_limit) {
      return finish(refusal(413, "the body is too large"), false);
    }
    if (error.category() == beast::error_code(http::error::bad_target).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
      return finish(refusal(400, "the request could not be read"), false);
    }
    close();  // the client left, was silent or too slow
  }

  // Hands the request to the handlers' pool; the answer comes back to this strand.
  void dispatch() {
    auto request = std::make_shared<Request>(parser_->release());
    parser_.reset();
    const bool keep = request->keep_alive() && served_ + 1 < SERVER_REQUESTS_PER_CONNECTION;
    // While the handler runs the connection reads nothing, and has no deadline of its own.
    stream_.expires_never();
    asio::post(server_.handlers, [self = shared_from_this(), request, keep] {
      Response response = self->answer(*request);
      asio::post(self->stream_.get_executor(),
                 [self, keep, response = std::move(response)]() mutable {
                   self->finish(std::move(response), keep);
                 });
    });
  }

  // The answer to a request that was read whole (on a handler's thread).
  Response answer(const Request& request) {
    std::string path;
    std::map<std::string, std::string> query;
    const std::string target(request.target());
    if (!server_target(target, path, query)) {
      return refusal(400, "the request's target could not be read", request.version());
    }
    const std::string method(request.method_string());
    if (path.rfind("/api/", 0) == 0 || path == "/api" || path.rfind("/packs/", 0) == 0) {
      const HubResponse hub =
          hub_handle(server_.hub, server_request(method, path, std::move(query),
                                                 std::string(request[http::field::authorization]),
                                                 std::string(request["X-Forwarded-For"]), peer_,
                                                 server_.config.trust_proxy, request.body()));
      Response response{static_cast<http::status>(hub.status), request.version()};
      for (const auto& [name, value] : hub.headers) response.set(name, value);
      response.set("Content-Security-Policy",
                   hub.content_type.rfind("text/html", 0) == 0 ? CSP_PAGE : CSP_API);
      response.set(http::field::cache_control, "no-store");
      if (!hub.content_type.empty()) {
        response.set(http::field::content_type, hub.content_type);
        response.body() = hub.body;
      }
      return response;
    }
    if (method != "GET" && method != "HEAD") {
      Response refused = refusal(405, "use GET", request.version());
      refused.set(http::field::allow, "GET, HEAD");
      return refused;
    }
    const bool game =
        !server_.config.site.empty() && (path == "/play" || path.rfind("/play/", 0) == 0);
    if (game && path == "/play") {
      Response moved = json_answer(301, "", request.version());
      moved.set(http::field::location, "/play/");
      return moved;
    }
    const std::string file = game ? server_file(server_.config.site, path.substr(5))
                                  : server_file(server_.config.page, path);
    Response response = file_answer(file, request.version());
    if (response.result_int() == 200) {
      response.set("Content-Security-Policy", game ? CSP_GAME : CSP_PAGE);
    }
    if (request.method() == http::verb::head) {
      response.content_length(response.body().size());
      response.body().clear();
    }
    return response;
  }

  static Response file_answer(const std::string& file, unsigned version) {
    struct stat info {};
    if (file.empty() || stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > FILE_MAX) {
      return refusal(404, "no such path", version);
    }
    std::ifstream in(file, std::ios::binary);
    std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) return refusal(500, "the file could not be read", version);
    Response response{http::status::ok, version};
    response.set(http::field::content_type, content_type_of(file));
    response.body() = std::move(body);
    return response;
  }

  // Sends response, then waits for the next request or closes.
  void finish(Response response, bool keep) {
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "same-origin");
    response.keep_alive(keep);
    if (response.find(http::field::content_length) == response.end()) response.prepare_payload();
    response_.emplace(std::move(response));
    stream_.expires_after(std::chrono::seconds(SERVER_WRITE_SECONDS));
    http::async_write(stream_, *response_,
                      [self = shared_from_this(), keep](beast::error_code error, size_t) {
                        self->response_.reset();
                        if (!error && self->unread_) return self->linger();
                        if (error || !keep) return self->close();
                        ++self->served_;
                        self->await();
                      });
  }

  // After a refusal of a request not read whole, what the client still sends is read and
  // dropped for a while: closing on unread bytes would reset the connection, and the client
  // could lose the refusal before it reads it.
  void linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(LINGER_SECONDS));
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code error, size_t got) {
                              self->lingered_ += got;
                              if (error || self->lingered_ > LINGER_BYTES)
                                return self->stream_.close();
                              self->linger();
                            });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.close();
  }

  void enter_idle() {
    std::weak_ptr<Connection> weak = weak_from_this();
    std::lock_guard guard(server_.connections_mutex);
    idle_id_ = server_.next_id++;
    server_.idle.emplace(idle_id_, [weak] {
      if (auto self = weak.lock()) {
        asio::post(self->stream_.get_executor(), [self] { self->stream_.close(); });
      }
    });
  }

  void leave_idle() {
    if (idle_id_ == 0) return;
    std::lock_guard guard(server_.connections_mutex);
    server_.idle.erase(idle_id_);
    idle_id_ = 0;
  }

  HubServer::State& server_;                                       // the listener it belongs to
  beast::tcp_stream stream_;                                       // the socket, with its deadline
  beast::flat_buffer buffer_;                                      // bytes read and not yet parsed
  std::string peer_;                                               // the peer's address
  std::optional<http::request_parser<http::string_body>> parser_;  // the request being read
  std::optional<http::response<http::empty_body>> continue_;       // a 100 Continue being sent
  std::optional<Response> response_;                               // the answer being sent
  int served_ = 0;        // requests answered on this connection
  bool unread_ = false;   // a refusal was sent before its request was read whole
  size_t lingered_ = 0;   // bytes dropped after it
  uint64_t idle_id_ = 0;  // its place in the idle list; 0 when not idle
};

}  // namespace

void HubServer::State::accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted) return;  // stopped
    if (!error) {
      if (make_room()) {
        std::make_shared<Connection>(*this, std::move(socket))->start();
      } else {
        // Every place holds a request under way: this client is told at once, not kept waiting.
        static const char BUSY[] =
            "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n";
        beast::error_code ignored;
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(BUSY, sizeof BUSY - 1), ignored);
        socket.close(ignored);
      }
    }
    accept();
  });
}

HubServer::HubServer(Hub& hub, const ServerConfig& config)
    : state_(std::make_unique<State>(hub, config)) {
  const tcp::endpoint where(asio::ip::make_address(config.host),
                            static_cast<unsigned short>(config.port));
  state_->acceptor.open(where.protocol());
  state_->acceptor.set_option(asio::socket_base::reuse_address(true));
  state_->acceptor.bind(where);
  state_->acceptor.listen(asio::socket_base::max_listen_connections);
}

HubServer::~HubServer() {
  stop();
  state_->handlers.join();
}

int HubServer::port() const { return state_->acceptor.local_endpoint().port(); }

void HubServer::run() {
  state_->accept();
  std::vector<std::thread> more;
  for (int i = 1; i < state_->config.io_threads; ++i) {
    more.emplace_back([this] { state_->io.run(); });
  }
  state_->io.run();
  for (std::thread& thread : more) thread.join();
}

void HubServer::stop() { state_->io.stop(); }
