// ksvw-sim: a simulated bus analyzer that speaks the remote library's link
// protocol over TCP (the LAN converter method) and over a pseudo-terminal
// that stands in for a serial port.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/capture_record.h"
#include "common/output_file.h"
#include "common/result_codes.h"
#include "protocol/analyzer_session.h"
#include "sim/analyzer.h"
#include "sim/capture_sections.h"
#include "sim/hostile_peer.h"
#include "sim/posix_link.h"
#include "testsupport/capture_builder.h"

namespace ksvw::sim {
namespace {

using proto::Hex;

volatile sig_atomic_t stopSignal = 0;
void OnSignal(int sig) {
  stopSignal = sig;
}

bool verbose = false;
void Log(const std::string& line) {
  std::fprintf(stderr, "ksvw-sim: %s\n", line.c_str());
}

const char kUsage[] =
    "usage: ksvw-sim [options]\n"
    "Simulated CAN / CAN-LIN bus analyzer for the remote library.\n"
    "\n"
    "Links (at least one; default --tcp 127.0.0.1:0):\n"
    "  --tcp HOST:PORT          listen on TCP (port 0 picks one); prints\n"
    "                           'listening tcp ADDRESS:PORT'\n"
    "  --pty LINK               create a pseudo-terminal, raw mode, and make LINK a\n"
    "                           symlink to it (map a COM port to LINK); prints\n"
    "                           'listening pty LINK -> /dev/pts/N'\n"
    "Identity:\n"
    "  --board MONC|MDCL        option board (default MDCL, or the capture's)\n"
    "  --model CODE             model code (default 0x10024 with MDCL, 0x10014 with MONC)\n"
    "  --detail N               detail value reported with the model (default 0)\n"
    "Capture memory:\n"
    "  --capture FILE.DT        serve this DT file\n"
    "  --records N --seed S     or generate N records of CAN (and LIN) traffic\n"
    "                           (default 1000 records, seed 1)\n"
    "  --dump-capture FILE      write the DT file being served\n"
    "  --dump-screen FILE       write the raw 1920-byte screen whenever it changes\n"
    "Faults:\n"
    "  --refuse busy|version|board   answer every hello with 0xA0000001 /\n"
    "                                0xA0000004 / 0xA0000009\n"
    "  --no-answer              never answer a hello\n"
    "  --drop-after-bytes N     close the link after sending N bytes\n"
    "  --drop-in-section 0xNNNN close the link halfway through that section (once)\n"
    "  --corrupt-rate R         flip a random bit in a fraction R of the bytes sent\n"
    "  --line-rate BPS          send no faster than a serial line of BPS bit/s\n"
    "                           (10 bits per byte)\n"
    "  --hostile MODE           after the handshake, misbehave on every link:\n"
    "                           nak-flood, ping-flood (flood and never read),\n"
    "                           stall-section, stall-key (acknowledge and answer\n"
    "                           pings, answer no request), status-flood (status\n"
    "                           and screen reports as fast as the link takes them)\n"
    "Other:\n"
    "  --verbose                log every message received\n"
    "  --help                   this text\n"
    "\n"
    "A dropped pty link goes silent for 5 seconds (a pty cannot be unplugged).\n"
    "Stops cleanly on SIGINT or SIGTERM, removing the pty symlink.\n";

struct Options {
  std::vector<std::string> tcp;
  std::string pty;
  std::string board;
  uint32_t model = 0;
  bool modelSet = false;
  uint32_t detail = 0;
  std::string capture;
  uint32_t records = 1000;
  uint64_t seed = 1;
  std::string dump;
  std::string dumpScreen;
  int32_t refuse = 0;
  bool noAnswer = false;
  uint64_t dropAfterBytes = 0;
  uint32_t dropInSection = 0;
  double corruptRate = 0;
  uint32_t lineRate = 0;
  bool hostile = false;
  Hostility hostility = Hostility::Stall;
};

bool ParseNumber(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (!*text || *end || errno) return false;
  out = v;
  return true;
}

// 0 to run, 1 to exit with success (help), 2 on a usage error.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char*& v) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ksvw-sim: %s needs a value\n", a.c_str());
        return false;
      }
      v = argv[++i];
      return true;
    };
    auto number = [&](uint64_t& n, uint64_t max) {
      const char* v;
      if (!value(v)) return false;
      if (!ParseNumber(v, n) || n > max) {
        std::fprintf(stderr, "ksvw-sim: bad number for %s: %s\n", a.c_str(), v);
        return false;
      }
      return true;
    };
    const char* v = nullptr;
    uint64_t n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--tcp") {
      if (!value(v)) return 2;
      o.tcp.push_back(v);
    } else if (a == "--pty") {
      if (!value(v)) return 2;
      o.pty = v;
    } else if (a == "--board") {
      if (!value(v)) return 2;
      o.board = v;
      if (o.board != "MONC" && o.board != "MDCL") {
        std::fprintf(stderr, "ksvw-sim: --board takes MONC or MDCL\n");
        return 2;
      }
    } else if (a == "--model") {
      if (!number(n, 0xFFFFFFFFu)) return 2;
      o.model = static_cast<uint32_t>(n);
      o.modelSet = true;
    } else if (a == "--detail") {
      if (!number(n, 0xFFFFFFFFu)) return 2;
      o.detail = static_cast<uint32_t>(n);
    } else if (a == "--capture") {
      if (!value(v)) return 2;
      o.capture = v;
    } else if (a == "--records") {
      if (!number(n, 393216)) return 2;
      o.records = static_cast<uint32_t>(n);
    } else if (a == "--seed") {
      if (!number(n, ~0ull)) return 2;
      o.seed = n;
    } else if (a == "--dump-capture") {
      if (!value(v)) return 2;
      o.dump = v;
    } else if (a == "--dump-screen") {
      if (!value(v)) return 2;
      o.dumpScreen = v;
    } else if (a == "--refuse") {
      if (!value(v)) return 2;
      std::string r = v;
      if (r == "busy") {
        o.refuse = kErrAnalyzerBusy;
      } else if (r == "version") {
        o.refuse = kErrVersionMismatch;
      } else if (r == "board") {
        o.refuse = kErrNoOptionBoard;
      } else {
        std::fprintf(stderr, "ksvw-sim: --refuse takes busy, version or board\n");
        return 2;
      }
    } else if (a == "--no-answer") {
      o.noAnswer = true;
    } else if (a == "--drop-after-bytes") {
      if (!number(n, ~0ull)) return 2;
      o.dropAfterBytes = n;
    } else if (a == "--drop-in-section") {
      if (!number(n, 0xFFFFFFFFu)) return 2;
      o.dropInSection = static_cast<uint32_t>(n);
    } else if (a == "--corrupt-rate") {
      if (!value(v)) return 2;
      char* end = nullptr;
      o.corruptRate = std::strtod(v, &end);
      if (!*v || *end || o.corruptRate < 0 || o.corruptRate > 1) {
        std::fprintf(stderr, "ksvw-sim: --corrupt-rate takes a fraction from 0 to 1\n");
        return 2;
      }
    } else if (a == "--hostile") {
      if (!value(v)) return 2;
      o.hostile = true;
      if (!ParseHostility(v, &o.hostility)) {
        std::fprintf(stderr,
                     "ksvw-sim: --hostile takes nak-flood, ping-flood, stall-section, stall-key "
                     "or status-flood\n");
        return 2;
      }
    } else if (a == "--line-rate") {
      if (!number(n, 100000000)) return 2;
      o.lineRate = static_cast<uint32_t>(n);
    } else {
      std::fprintf(stderr, "ksvw-sim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (o.tcp.empty() && o.pty.empty()) o.tcp.push_back("127.0.0.1:0");
  return 0;
}

// One link to a host: a TCP connection or the pty. Each has its own session;
// the analyzer model lets only one of them hold it at a time.
struct Endpoint {
  Endpoint(SimAnalyzer& model, const Options& o, std::string n, int f, bool p)
      : name(std::move(n)), fd(f), pty(p), session(model), pacer(o.lineRate) {
    session.SetLogger([this](const std::string& line) { Log(name + ": " + line); }, verbose);
    if (o.hostile) hostile = std::make_unique<HostilePeer>(o.hostility);
  }
  std::string name;
  int fd;
  bool pty;
  proto::AnalyzerSession session;
  std::unique_ptr<HostilePeer> hostile;  // --hostile: it speaks instead of the session
  LinePacer pacer;
  uint64_t bytesSent = 0;
  uint64_t mutedUntilMs = 0;  // a dropped pty stays silent until then
  bool closing = false;       // TCP: close once the output is sent
  bool dead = false;
};

class Simulator {
 public:
  Simulator(const Options& o, SimAnalyzer& model) : o_(o), model_(model), rng_(o.seed) {}

  bool Start();
  void Run();
  void Stop();

 private:
  void Drop(Endpoint& e, const char* why);
  void Service(Endpoint& e, uint64_t nowMs);
  void Read(Endpoint& e, uint64_t nowMs);
  void Write(Endpoint& e);
  void ServiceHostile(Endpoint& e);
  void Corrupt(uint8_t* p, size_t n);
  void DumpScreen();

  const Options& o_;
  SimAnalyzer& model_;
  std::vector<int> listeners_;
  Pty pty_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  std::mt19937_64 rng_;
  bool droppedInSection_ = false;
  uint32_t dumpedVersion_ = 0;
  std::vector<uint8_t> scratch_;
};

bool Simulator::Start() {
  for (const auto& t : o_.tcp) {
    std::string host, bound, error;
    uint16_t port = 0;
    if (!SplitHostPort(t, host, port)) {
      Log("bad --tcp value " + t + " (want HOST:PORT)");
      return false;
    }
    int fd = ListenTcp(host, port, bound, error);
    if (fd < 0) {
      Log(error);
      return false;
    }
    listeners_.push_back(fd);
    std::printf("listening tcp %s\n", bound.c_str());
  }
  if (!o_.pty.empty()) {
    std::string error;
    if (!OpenPty(o_.pty, pty_, error)) {
      Log(error);
      return false;
    }
    endpoints_.push_back(std::make_unique<Endpoint>(model_, o_, "pty", pty_.master, true));
    std::printf("listening pty %s -> %s\n", pty_.link.c_str(), pty_.slavePath.c_str());
  }
  std::fflush(stdout);
  return true;
}

void Simulator::Drop(Endpoint& e, const char* why) {
  Log(e.name + ": link dropped (" + why + ")");
  e.session.TransportClosed(NowMs());
  if (e.pty) {
    e.mutedUntilMs = NowMs() + 5000;
    FlushPtyInput(pty_);
  } else {
    e.dead = true;
  }
}

void Simulator::Corrupt(uint8_t* p, size_t n) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  for (size_t i = 0; i < n; ++i)
    if (chance(rng_) < o_.corruptRate) p[i] ^= static_cast<uint8_t>(1u << (rng_() % 8));
}

// Written beside and renamed over (OutputFile), so a reader never sees half
// a screen.
void Simulator::DumpScreen() {
  if (o_.dumpScreen.empty() || model_.ScreenVersion() == dumpedVersion_) return;
  dumpedVersion_ = model_.ScreenVersion();
  if (int error = WriteOutputFile(o_.dumpScreen, model_.Screen(), kScreenBytes))
    Log("cannot write " + o_.dumpScreen + ": " + OutputErrorText(error));
}

void Simulator::Read(Endpoint& e, uint64_t nowMs) {
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = read(e.fd, buf, sizeof buf);
    if (n > 0) {
      if (nowMs < e.mutedUntilMs) continue;
      if (e.hostile) {
        e.hostile->Feed(buf, static_cast<size_t>(n));
      } else {
        e.session.Feed(buf, static_cast<size_t>(n), nowMs);
      }
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (e.pty) return;  // EIO with no reader; the held slave keeps it rare
    Log(e.name + ": connection closed by the host");
    e.session.TransportClosed(nowMs);
    e.dead = true;
    return;
  }
}

void Simulator::Write(Endpoint& e) {
  while (e.session.OutputSize() > 0 && !e.dead) {
    size_t n = e.session.OutputSize();
    n = std::min(n, e.pacer.Allowance(NowUs()));
    if (o_.dropAfterBytes) n = std::min<uint64_t>(n, o_.dropAfterBytes - e.bytesSent);
    if (n == 0) break;
    const uint8_t* p = e.session.OutputData();
    if (o_.corruptRate > 0) {
      scratch_.assign(p, p + n);
      Corrupt(scratch_.data(), n);
      p = scratch_.data();
    }
    ssize_t w = e.pty ? write(e.fd, p, n) : send(e.fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) {
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Log(e.name + ": write failed: " + std::strerror(errno));
        e.session.TransportClosed(NowMs());
        e.dead = !e.pty;
      }
      break;
    }
    e.pacer.Spend(static_cast<size_t>(w));
    e.bytesSent += static_cast<uint64_t>(w);
    e.session.ConsumeOutput(static_cast<size_t>(w));
    if (o_.dropAfterBytes && e.bytesSent >= o_.dropAfterBytes) {
      Drop(e, ("after " + std::to_string(e.bytesSent) + " bytes").c_str());
      e.bytesSent = 0;
      break;
    }
    e.session.Tick(NowMs());  // refill behind what went out
  }
}

// The hostile peer's traffic, as much as the link takes without waiting.
void Simulator::ServiceHostile(Endpoint& e) {
  for (int pass = 0; pass < 16 && !e.dead; ++pass) {
    e.hostile->Flood(64 * 1024);
    size_t n = std::min(e.hostile->OutputSize(), e.pacer.Allowance(NowUs()));
    if (n == 0) return;
    ssize_t w = e.pty ? write(e.fd, e.hostile->OutputData(), n)
                      : send(e.fd, e.hostile->OutputData(), n, MSG_NOSIGNAL);
    if (w <= 0) {
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Log(e.name + ": hostile peer: write failed: " + std::strerror(errno));
        e.dead = !e.pty;
      }
      return;
    }
    e.pacer.Spend(static_cast<size_t>(w));
    e.hostile->ConsumeOutput(static_cast<size_t>(w));
  }
}

void Simulator::Service(Endpoint& e, uint64_t nowMs) {
  if (nowMs < e.mutedUntilMs) return;
  if (e.hostile) {
    ServiceHostile(e);
    return;
  }
  e.session.Tick(nowMs);
  if (o_.dropInSection && !droppedInSection_ && e.session.ActiveSection() == o_.dropInSection &&
      e.session.SectionSent() >= e.session.SectionTotal() / 2) {
    droppedInSection_ = true;
    Drop(e, ("midway through section " + Hex(o_.dropInSection)).c_str());
    return;
  }
  Write(e);
  if (e.session.WantsClose()) {
    if (e.pty) {
      FlushPtyInput(pty_);
    } else {
      e.closing = true;
    }
  }
  if (e.closing && e.session.OutputSize() == 0) {
    Log(e.name + ": closing the connection");
    e.dead = true;
  }
}

void Simulator::Run() {
  std::vector<pollfd> fds;
  while (!stopSignal) {
    DumpScreen();
    fds.clear();
    for (int l : listeners_) fds.push_back({l, POLLIN, 0});
    int timeoutMs = 20;
    for (auto& e : endpoints_) {
      // A flooding hostile peer leaves the host's bytes unread: that is its
      // attack (and a closed connection still shows as a failed send).
      short events = !e->hostile || e->hostile->ReadsHost() ? POLLIN : 0;
      size_t pending =
          e->hostile ? e->hostile->OutputSize() + e->hostile->Floods() : e->session.OutputSize();
      if (pending > 0) {
        uint64_t wait = e->pacer.WaitUs(NowUs());
        if (wait == 0) {
          events |= POLLOUT;
        } else {
          timeoutMs = std::min<int>(timeoutMs, static_cast<int>(wait / 1000) + 1);
        }
      }
      fds.push_back({e->fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
      Log(std::string("poll: ") + std::strerror(errno));
      break;
    }
    uint64_t now = NowMs();
    size_t i = 0;
    for (int l : listeners_) {
      if (fds[i++].revents & POLLIN) {
        std::string peer;
        int fd = AcceptTcp(l, peer);
        if (fd < 0) continue;
        if (endpoints_.size() >= 8) {
          Log("connection from " + peer + " turned away: too many");
          close(fd);
          continue;
        }
        Log("connection from " + peer);
        endpoints_.push_back(std::make_unique<Endpoint>(model_, o_, "tcp " + peer, fd, false));
      }
    }
    for (size_t k = 0; k < endpoints_.size(); ++k) {
      Endpoint& e = *endpoints_[k];
      if (k + listeners_.size() < fds.size() &&
          (fds[k + listeners_.size()].revents & (POLLIN | POLLHUP | POLLERR)))
        Read(e, now);
      if (!e.dead) Service(e, now);
    }
    for (auto it = endpoints_.begin(); it != endpoints_.end();) {
      if ((*it)->dead) {
        close((*it)->fd);
        it = endpoints_.erase(it);
      } else {
        ++it;
      }
    }
  }
  Log(std::string("stopping on ") + (stopSignal == SIGINT ? "SIGINT" : "SIGTERM"));
}

void Simulator::Stop() {
  for (auto& e : endpoints_) {
    if (!e->pty) close(e->fd);
  }
  endpoints_.clear();
  for (int l : listeners_) close(l);
  listeners_.clear();
  ClosePty(pty_);
}

int Main(int argc, char** argv) {
  Options o;
  int parsed = ParseOptions(argc, argv, o);
  if (parsed) return parsed == 1 ? 0 : 2;

  std::vector<uint8_t> file;
  uint32_t boardTag = o.board == "MONC" ? kTagMonc : kTagMdcl;
  if (!o.capture.empty()) {
    file = build::ReadFile(o.capture);
    if (file.empty()) {
      Log("cannot read " + o.capture);
      return 1;
    }
  } else {
    file = build::GenerateCapture(o.records, boardTag, o.seed);
  }
  CaptureMemory memory;
  std::string error;
  if (!memory.Load(std::move(file), error)) {
    Log("capture refused: " + error);
    return 1;
  }
  if (!o.capture.empty() && o.board.empty()) boardTag = memory.DataTag();
  if (!o.dump.empty()) {
    if (int error = WriteOutputFile(o.dump, memory.File().data(), memory.File().size())) {
      Log("cannot write " + o.dump + ": " + OutputErrorText(error));
      return 1;
    }
  }
  SimIdentity id;
  id.board = boardTag;
  id.model = o.modelSet ? o.model : (boardTag == kTagMonc ? 0x10014 : 0x10024);
  id.detail = o.detail;
  SimFaults faults;
  faults.refuse = o.refuse;
  faults.noAnswer = o.noAnswer;
  SimAnalyzer model(id, faults, memory);

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Simulator sim(o, model);
  if (!sim.Start()) {
    sim.Stop();
    return 1;
  }
  Log("model " + Hex(id.model) + " (" + ModelName(id.model) + "), board " +
      (boardTag == kTagMonc ? "MONC" : "MDCL") + ", " + std::to_string(memory.RecordCount()) +
      " records, " + std::to_string(memory.File().size()) + " bytes of capture");
  sim.Run();
  sim.Stop();
  return 0;
}

}  // namespace
}  // namespace ksvw::sim

int main(int argc, char** argv) {
  return ksvw::sim::Main(argc, argv);
}
