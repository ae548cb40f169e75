#include "sim/posix_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ksvw::sim {

uint64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}
uint64_t NowMs() {
  return NowUs() / 1000u;
}

bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  const char* p = text.c_str() + colon + 1;
  char* end = nullptr;
  unsigned long v = std::strtoul(p, &end, 10);
  if (*p == '\0' || *end != '\0' || v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

static bool Resolve(const std::string& host, uint16_t port, sockaddr_in& addr, std::string& error) {
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
    error = "cannot resolve " + host;
    return false;
  }
  addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return true;
}

int ListenTcp(const std::string& host, uint16_t port, std::string& bound, std::string& error) {
  sockaddr_in addr;
  if (!Resolve(host, port, addr, error)) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  bound = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  SetNonBlocking(fd);
  return fd;
}

int AcceptTcp(int listenFd, std::string& peer) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (fd < 0) return -1;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  SetNonBlocking(fd);
  SetNoDelay(fd);
  return fd;
}

int ConnectTcp(const std::string& host, uint16_t port, std::string& error) {
  sockaddr_in addr;
  if (!Resolve(host, port, addr, error)) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = "cannot connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  SetNonBlocking(fd);
  SetNoDelay(fd);
  return fd;
}

static bool MakeRaw(int fd) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool OpenPty(const std::string& link, Pty& pty, std::string& error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) close(master);
    return false;
  }
  const char* name = ptsname(master);
  if (!name) {
    error = "ptsname failed";
    close(master);
    return false;
  }
  std::string slave = name;
  int held = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (held < 0 || !MakeRaw(held)) {
    error = "cannot open " + slave + ": " + std::strerror(errno);
    if (held >= 0) close(held);
    close(master);
    return false;
  }
  struct stat st;
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a symlink; not replacing it";
      close(held);
      close(master);
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(slave.c_str(), link.c_str()) != 0) {
    error = "cannot create symlink " + link + ": " + std::strerror(errno);
    close(held);
    close(master);
    return false;
  }
  SetNonBlocking(master);
  pty.master = master;
  pty.heldSlave = held;
  pty.slavePath = slave;
  pty.link = link;
  return true;
}

void FlushPtyInput(const Pty& pty) {
  if (pty.heldSlave >= 0) tcflush(pty.heldSlave, TCIFLUSH);
}

void ClosePty(Pty& pty) {
  if (!pty.link.empty()) {
    char target[512];
    ssize_t n = readlink(pty.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == pty.slavePath)
      unlink(pty.link.c_str());
  }
  if (pty.heldSlave >= 0) close(pty.heldSlave);
  if (pty.master >= 0) close(pty.master);
  pty = Pty{};
}

int OpenSerial(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || !MakeRaw(fd)) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  tcflush(fd, TCIFLUSH);
  SetNonBlocking(fd);
  return fd;
}

LinePacer::LinePacer(uint32_t bitsPerSecond)
    : bytesPerSecond_(bitsPerSecond / 10.0),
      capacity_(std::max(32.0, bitsPerSecond / 10.0 / 200.0)) {}

size_t LinePacer::Allowance(uint64_t nowUs) {
  if (!Limited()) return static_cast<size_t>(-1);
  if (lastUs_ == 0) lastUs_ = nowUs;
  tokens_ = std::min(capacity_, tokens_ + (nowUs - lastUs_) * bytesPerSecond_ / 1e6);
  lastUs_ = nowUs;
  return tokens_ >= 1 ? static_cast<size_t>(tokens_) : 0;
}

uint64_t LinePacer::WaitUs(uint64_t nowUs) {
  if (!Limited()) return 0;
  Allowance(nowUs);
  if (tokens_ >= 1) return 0;
  return static_cast<uint64_t>((1 - tokens_) * 1e6 / bytesPerSecond_) + 1;
}

}  // namespace ksvw::sim
