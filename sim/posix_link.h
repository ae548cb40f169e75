// POSIX pieces of the simulator and its test client: monotonic time, TCP
// listen/accept/connect, the pseudo-terminal that stands in for a serial
// port, raw mode, and pacing to a serial line rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ksvw::sim {

uint64_t NowMs();
uint64_t NowUs();

// "HOST:PORT" into its parts; false when malformed.
bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port);

// A listening socket on host:port (port 0 picks one); `bound` receives
// "ADDRESS:PORT". -1 with `error` set on failure.
int ListenTcp(const std::string& host, uint16_t port, std::string& bound, std::string& error);
int AcceptTcp(int listenFd, std::string& peer);
int ConnectTcp(const std::string& host, uint16_t port, std::string& error);

// A pseudo-terminal in raw mode whose slave is reachable through the symlink
// `link`. The simulator keeps a slave descriptor open itself, so the master
// never sees a hang-up while no program has the port open.
struct Pty {
  int master = -1;
  int heldSlave = -1;
  std::string slavePath;
  std::string link;
};
bool OpenPty(const std::string& link, Pty& pty, std::string& error);
// Discards bytes queued for the slave's reader (a departed host's leftovers).
void FlushPtyInput(const Pty& pty);
void ClosePty(Pty& pty);  // closes both ends and removes the symlink

// Opens a serial device (or pty slave) in raw mode for the client.
int OpenSerial(const std::string& path, std::string& error);

bool SetNonBlocking(int fd);
// Nodelay for small frames on TCP.
void SetNoDelay(int fd);

// Token bucket for a serial line rate of `bitsPerSecond` (10 bits per byte);
// 0 means unlimited.
class LinePacer {
 public:
  explicit LinePacer(uint32_t bitsPerSecond = 0);
  bool Limited() const { return bytesPerSecond_ > 0; }
  // Bytes that may be written now.
  size_t Allowance(uint64_t nowUs);
  void Spend(size_t n) { tokens_ -= static_cast<double>(n); }
  // Microseconds until at least one byte may go.
  uint64_t WaitUs(uint64_t nowUs);

 private:
  double bytesPerSecond_;
  double tokens_ = 0;
  double capacity_;
  uint64_t lastUs_ = 0;
};

}  // namespace ksvw::sim
