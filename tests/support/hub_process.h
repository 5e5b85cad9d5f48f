// A q47-hub process for a test or a bench, and connections to it on the loopback network.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

// Starts args (the program first, listening on 127.0.0.1) and reads the first line it prints,
// which says where it serves: the port. Its process id goes in pid. Throws std::runtime_error
// when it said nothing of the kind within 20 seconds.
inline int hub_spawn(std::vector<std::string> args, pid_t& pid) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  pollfd wait{out[0], POLLIN, 0};
  char c = 0;
  while (line.find('\n') == std::string::npos && poll(&wait, 1, 20000) > 0 &&
         read(out[0], &c, 1) == 1) {
    line += c;
  }
  close(out[0]);
  const size_t colon = line.find(':', line.find("127.0.0.1"));
  if (colon == std::string::npos) throw std::runtime_error("the hub did not start: " + line);
  return std::stoi(line.substr(colon + 1));
}

// A TCP connection to 127.0.0.1:port, made from the loopback address from when it is given (a
// client of its own, for limits per address); -1 when none could be made.
inline int loopback_connect(int port, const std::string& from = "") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!from.empty()) {
    inet_pton(AF_INET, from.c_str(), &address.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}
