// q47-hub: the hub's server. Options, the data folder, the store, the verifying workers and the
// HTTP server that carries requests to hub_handle and serves the hub's page and the browser game.
#include <getopt.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "hub/api.h"
#include "hub/server.h"
#include "hub/store.h"
#include "hub/store_sqlite.h"
#include "hub/verify.h"

namespace {

constexpr const char* PROGRAM = "q47-hub";
constexpr int EXIT_MISUSE = 2;

// The command line.
struct HubOptions {
  std::string listen = "127.0.0.1:8048";  // ADDRESS:PORT; port 0 takes any free one
  std::string database;                   // a PostgreSQL URL or a SQLite path; "" = the default
  std::string site;                       // the browser game's folder for /play/
  std::string page;                       // the hub's page folder
  std::string backup;                     // --backup FILE
  std::string trust_proxy;                // the address of a proxy whose X-Forwarded-For counts
  int32_t workers = 2;                    // verifying threads
  size_t max_connections = 10000;         // connections open at once
  double rate = 20;                       // requests a second per address and per key
  int64_t lease = 60;                     // seconds a worker holds a run it claimed
};

void usage(FILE* out) {
  std::fprintf(
      out,
      "Usage: %s [OPTION]...\n"
      "Serve the Q-47 hub: players, published level packs and verified runs.\n\n"
      "  --listen ADDR:PORT   listen there (default 127.0.0.1:8048; port 0: any free one)\n"
      "  --database DB        a SQLite file, or postgresql://... (default\n"
      "                       $XDG_DATA_HOME/q47-hub/hub.sqlite3)\n"
      "  --site DIR           serve the browser game from DIR under /play/\n"
      "  --page DIR           serve the hub's own page from DIR (default: installed)\n"
      "  --workers N          threads that verify runs (0 to 64, default 2; 0: none)\n"
      "  --rate N             requests a second per address and per key (default 20;\n"
      "                       0: no limit)\n"
      "  --lease SECONDS      a worker's claim on a run lasts this long; a run whose\n"
      "                       worker died is verified by another after it (default 60)\n"
      "  --max-connections N  connections open at once (16 to 1000000, default 10000);\n"
      "                       past it the longest idle one is closed\n"
      "  --trust-proxy ADDR   requests from ADDR (a reverse proxy in front) come from\n"
      "                       the last address its X-Forwarded-For names\n"
      "  --backup FILE        copy the SQLite database, even while a hub runs on it,\n"
      "                       into FILE, and exit\n"
      "  -h, --help           this help\n"
      "      --version        the version\n",
      PROGRAM);
}

[[noreturn]] void misuse(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM, message.c_str(),
               PROGRAM);
  std::exit(EXIT_MISUSE);
}

bool whole_number(const char* text, long min, long max, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return *text && !*end && errno == 0 && value >= min && value <= max;
}

HubOptions read_options(int argc, char** argv) {
  enum {
    LISTEN = 256,
    DATABASE,
    SITE,
    PAGE,
    TRUST_PROXY,
    WORKERS,
    RATE,
    LEASE,
    BACKUP,
    MAX_CONNECTIONS,
    VERSION
  };
  static const option LONG[] = {{"listen", required_argument, nullptr, LISTEN},
                                {"database", required_argument, nullptr, DATABASE},
                                {"site", required_argument, nullptr, SITE},
                                {"page", required_argument, nullptr, PAGE},
                                {"trust-proxy", required_argument, nullptr, TRUST_PROXY},
                                {"workers", required_argument, nullptr, WORKERS},
                                {"rate", required_argument, nullptr, RATE},
                                {"lease", required_argument, nullptr, LEASE},
                                {"max-connections", required_argument, nullptr, MAX_CONNECTIONS},
                                {"backup", required_argument, nullptr, BACKUP},
                                {"help", no_argument, nullptr, 'h'},
                                {"version", no_argument, nullptr, VERSION},
                                {nullptr, 0, nullptr, 0}};
  HubOptions options;
  opterr = 0;
  for (;;) {
    const int index = optind;
    const int option = getopt_long(argc, argv, ":h", LONG, nullptr);
    if (option == -1) break;
    const std::string name = index < argc ? argv[index] : "";
    const std::string value = optarg ? optarg : "";
    if ((option >= LISTEN && option <= BACKUP) && value.empty()) {
      misuse("option '" + name.substr(0, name.find('=')) + "' needs a value that is not empty");
    }
    long number = 0;
    switch (option) {
      case 'h':
        usage(stdout);
        std::exit(0);
      case VERSION:
        std::printf("%s %s\n", PROGRAM, Q47_VERSION);
        std::exit(0);
      case LISTEN:
        options.listen = value;
        break;
      case DATABASE:
        options.database = value;
        break;
      case SITE:
        options.site = value;
        break;
      case PAGE:
        options.page = value;
        break;
      case TRUST_PROXY:
        options.trust_proxy = value;
        break;
      case BACKUP:
        options.backup = value;
        break;
      case WORKERS:
        if (!whole_number(optarg, 0, 64, number)) misuse("--workers: a number from 0 to 64");
        options.workers = static_cast<int32_t>(number);
        break;
      case RATE:
        if (!whole_number(optarg, 0, 1000000, number)) misuse("--rate: a number from 0 to 1000000");
        options.rate = static_cast<double>(number);
        break;
      case LEASE:
        // A run takes at most 10 s of processor time: a shorter lease would hand it out twice.
        if (!whole_number(optarg, 1, 86400, number)) misuse("--lease: a number from 1 to 86400");
        options.lease = number;
        break;
      case MAX_CONNECTIONS:
        if (!whole_number(optarg, 16, 1000000, number)) {
          misuse("--max-connections: a number from 16 to 1000000");
        }
        options.max_connections = static_cast<size_t>(number);
        break;
      case ':':
        misuse("option '" + name + "' needs a value");
      default:
        misuse(name.rfind("--", 0) == 0 ? "unrecognized option '" + name + "'"
                                        : "invalid option -- '" + name.substr(1) + "'");
    }
  }
  if (optind < argc) misuse(std::string("unexpected argument '") + argv[optind] + "'");
  return options;
}

// Makes folder and its parents (mode 0700 for the ones made); false with errno when it cannot.
bool make_folders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The default database: $XDG_DATA_HOME/q47-hub/hub.sqlite3, else under ~/.local/share.
std::string default_database() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data && data[0] == '/') {
    folder = data;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
      std::fprintf(stderr, "%s: neither XDG_DATA_HOME nor HOME is set: give --database\n", PROGRAM);
      std::exit(1);
    }
    folder = std::string(home) + "/.local/share";
  }
  folder += "/q47-hub";
  if (!make_folders(folder)) {
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, folder.c_str(), std::strerror(errno));
    std::exit(1);
  }
  return folder + "/hub.sqlite3";
}

bool is_folder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The hub's page: given, else installed beside the executable, else in the source tree.
std::string find_page(const std::string& given) {
  if (!given.empty()) return given;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string folder(self, static_cast<size_t>(length));
    folder = folder.substr(0, folder.rfind('/'));
    const std::string installed = folder + "/" + Q47_HUB_RELATIVE_PAGE_DIR;
    if (is_folder(installed)) return installed;
  }
  return Q47_HUB_SOURCE_PAGE_DIR;
}

}  // namespace

int main(int argc, char** argv) {
  const HubOptions options = read_options(argc, argv);
  const std::string database = options.database.empty() ? default_database() : options.database;

  if (!options.backup.empty()) {
    if (database.find("://") != std::string::npos) {
      misuse("--backup copies a SQLite database; back a PostgreSQL one up with pg_dump");
    }
    const std::string why = sqlite_backup(database, options.backup);
    if (!why.empty()) {
      std::fprintf(stderr, "%s: %s\n", PROGRAM, why.c_str());
      return 1;
    }
    return 0;
  }

  const size_t colon = options.listen.rfind(':');
  long port = -1;
  if (colon == std::string::npos || colon == 0 ||
      !whole_number(options.listen.c_str() + colon + 1, 0, 65535, port)) {
    misuse("--listen: ADDRESS:PORT, as 127.0.0.1:8048");
  }
  std::string host = options.listen.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (!options.site.empty() && !is_folder(options.site)) {
    misuse("--site: " + options.site + ": not a folder");
  }
  const std::string page = find_page(options.page);
  if (!is_folder(page)) misuse("--page: " + page + ": not a folder");

  // Signals are taken by one thread of their own, which stops the server.
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  std::unique_ptr<Store> store = store_open(database, error);
  if (!store) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
    return 1;
  }
  VerifyLimits limits;
  limits.lease_seconds = options.lease;
  Hub hub(*store);
  hub.verify = limits;
  hub.limits.requests_per_second = options.rate;
  std::unique_ptr<VerifyPool> pool;
  try {
    pool = std::make_unique<VerifyPool>(*store, options.workers, limits, hub.clock,
                                        [&hub](int64_t now) { return hub_do_job(hub, now); });
  } catch (const StoreError& failure) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM, failure.what());
    return 1;
  }
  hub.queue_run = [&pool](int64_t) { pool->add(); };
  hub.queue_job = [&pool] { pool->add(); };

  // Every connection holds a file: as many as the system lets this process have, less a few
  // for the store and the page's files.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  ServerConfig config;
  config.host = host;
  config.port = static_cast<int>(port);
  config.page = page;
  config.site = options.site;
  config.trust_proxy = options.trust_proxy;
  config.max_connections = options.max_connections;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      files.rlim_cur < config.max_connections + 64) {
    config.max_connections = files.rlim_cur > 128 ? files.rlim_cur - 64 : 64;
    std::fprintf(stderr, "%s: at most %zu connections: the limit of open files is %llu\n", PROGRAM,
                 config.max_connections, static_cast<unsigned long long>(files.rlim_cur));
  }
  hub_warm_up();
  std::unique_ptr<HubServer> server;
  try {
    server = std::make_unique<HubServer>(hub, config);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: cannot listen on %s: %s\n", PROGRAM, options.listen.c_str(),
                 failure.what());
    return 1;
  }
  std::printf("%s: serving http://%s:%d/ from %s\n", PROGRAM,
              host.find(':') != std::string::npos ? ("[" + host + "]").c_str() : host.c_str(),
              server->port(), database.c_str());
  std::fflush(stdout);

  std::thread waiter([&server, stopping] {
    int signal_number = 0;
    sigwait(&stopping, &signal_number);
    server->stop();
  });
  server->run();
  // The server ended for another reason than a signal: the waiter is woken by one of our own.
  kill(getpid(), SIGTERM);
  waiter.join();
  server.reset();
  pool.reset();
  return 0;
}
