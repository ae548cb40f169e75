// ksvw-sim-client: a small native host for the link protocol, for testing
// and measuring the simulator: connects over TCP or a serial device,
// downloads the four capture sections into a DT file the way the program
// does, compares it, and times key presses until the new screen arrives.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "common/analyzer.h"
#include "common/result_codes.h"
#include "protocol/host_session.h"
#include "sim/posix_link.h"
#include "testsupport/capture_builder.h"

namespace ksvw::sim {
namespace {

using proto::Hex;

const char kUsage[] =
    "usage: ksvw-sim-client (--tcp HOST:PORT | --serial PATH [--baud BPS]) [options]\n"
    "  --out FILE        write the downloaded DT file\n"
    "  --expect FILE     compare the download with this DT file (exit 4 on a difference)\n"
    "  --no-download     skip the download\n"
    "  --keys N          time N key presses until their screen arrives (default 10)\n"
    "  --cancel-at N     cancel the data section after N bytes (expects 0x800704C7)\n"
    "Exit codes: 0 fine, 2 usage, 3 connect failed, 4 download failed or differs,\n"
    "5 link lost.\n";

class Client : public proto::HostEvents {
 public:
  Client(int fd, bool serial, const proto::HostConfig& config)
      : fd_(fd), serial_(serial), session_(*this, config) {}

  void OnIdentity(const proto::AnalyzerIdentity& id) override { identity = id; }
  void OnRequestDone(uint32_t id, proto::RequestKind, int32_t result) override {
    lastDone = id;
    lastResult = result;
    ++doneCount;
    if (onDone) onDone(id, result);
  }
  void OnProgress(uint32_t, uint32_t position, uint32_t range) override {
    progress = position;
    range_ = range;
  }
  int32_t OnData(uint32_t, const uint8_t* data, uint32_t size) override {
    file.insert(file.end(), data, data + size);
    sectionBytes += size;
    if (cancelAt && !cancelled && sectionBytes >= cancelAt) {
      cancelled = true;
      session_.Cancel(currentSection, NowMs());
    }
    return 0;
  }
  void OnLinkLost() override { linkLost = true; }
  void OnScreenChanged() override {
    ++screens;
    screenAtUs = NowUs();
  }

  // Runs the link until pred() holds or timeoutMs passes.
  bool RunUntil(const std::function<bool()>& pred, uint64_t timeoutMs) {
    uint64_t end = NowMs() + timeoutMs;
    uint8_t buf[65536];
    while (!pred()) {
      uint64_t now = NowMs();
      if (now >= end || closed_) return pred();
      pollfd p{fd_, POLLIN, 0};
      if (session_.OutputSize() > 0) p.events |= POLLOUT;
      poll(&p, 1, 5);
      now = NowMs();
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        for (;;) {
          ssize_t n = read(fd_, buf, sizeof buf);
          if (n > 0) {
            session_.Feed(buf, static_cast<size_t>(n), NowMs());
            if (pred()) break;
            continue;
          }
          if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            if (!serial_) {
              closed_ = true;
              session_.TransportClosed(NowMs());
            }
          }
          break;
        }
      }
      session_.Tick(now);
      while (session_.OutputSize() > 0) {
        ssize_t w = serial_ ? write(fd_, session_.OutputData(), session_.OutputSize())
                            : send(fd_, session_.OutputData(), session_.OutputSize(), MSG_NOSIGNAL);
        if (w <= 0) break;
        session_.ConsumeOutput(static_cast<size_t>(w));
      }
    }
    return true;
  }

  proto::HostSession& Session() { return session_; }

  proto::AnalyzerIdentity identity;
  uint32_t lastDone = 0;
  int32_t lastResult = 0;
  int doneCount = 0;
  std::function<void(uint32_t, int32_t)> onDone;
  uint32_t progress = 0, range_ = 0;
  std::vector<uint8_t> file;
  uint64_t sectionBytes = 0;
  uint64_t cancelAt = 0;
  bool cancelled = false;
  uint32_t currentSection = 0;
  bool linkLost = false;
  int screens = 0;
  uint64_t screenAtUs = 0;

 private:
  int fd_;
  bool serial_;
  bool closed_ = false;
  proto::HostSession session_;
};

int Main(int argc, char** argv) {
  std::string tcp, serial, out, expect;
  uint32_t baud = 0;
  int keys = 10;
  bool download = true;
  uint64_t cancelAt = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--no-download") {
      download = false;
    } else if ((a == "--tcp" || a == "--serial" || a == "--out" || a == "--expect" ||
                a == "--baud" || a == "--keys" || a == "--cancel-at") &&
               (v = next()) != nullptr) {
      if (a == "--tcp") tcp = v;
      if (a == "--serial") serial = v;
      if (a == "--out") out = v;
      if (a == "--expect") expect = v;
      if (a == "--baud") baud = static_cast<uint32_t>(std::strtoul(v, nullptr, 0));
      if (a == "--keys") keys = std::atoi(v);
      if (a == "--cancel-at") cancelAt = std::strtoull(v, nullptr, 0);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (tcp.empty() == serial.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::string error;
  int fd = -1;
  proto::HostConfig config;
  if (!tcp.empty()) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(tcp, host, port)) {
      std::fprintf(stderr, "ksvw-sim-client: bad --tcp %s\n", tcp.c_str());
      return 2;
    }
    fd = ConnectTcp(host, port, error);
  } else {
    fd = OpenSerial(serial, error);
    config = proto::SerialHostConfig(baud ? baud : 115200);
  }
  if (fd < 0) {
    std::fprintf(stderr, "ksvw-sim-client: %s\n", error.c_str());
    return 3;
  }

  Client c(fd, !serial.empty(), config);
  proto::HostSession& s = c.Session();
  uint32_t id = 0;
  uint64_t t0 = NowUs();
  s.Connect(NowMs(), &id);
  c.RunUntil([&] { return c.lastDone == id; }, 10000);
  if (c.lastDone != id || c.lastResult < 0) {
    std::printf("connect failed %s\n", Hex(static_cast<uint32_t>(c.lastResult)).c_str());
    return 3;
  }
  std::printf("connected model %s detail %u board %.4s in %.1f ms\n", Hex(c.identity.model).c_str(),
              c.identity.detail, reinterpret_cast<const char*>(&c.identity.board),
              (NowUs() - t0) / 1000.0);

  int rc = 0;
  if (download) {
    static const uint32_t order[4] = {kSectionHead, kSectionDataHeader, kSectionData, kSectionTail};
    static const uint32_t limits[4] = {kSectionLimitSmall, kSectionLimitSmall, kSectionLimitData,
                                       kSectionLimitSmall};
    c.file.assign(16, 0);
    c.cancelAt = cancelAt;
    int step = 0;
    bool finished = false;
    int32_t final = 0;
    uint64_t stepStart = NowUs(), start = stepStart;
    // The program's chain: each section is asked for when the last one ends.
    c.onDone = [&](uint32_t, int32_t result) {
      uint64_t now = NowUs();
      std::printf("section %s: %llu bytes in %.3f s, result %s\n", Hex(order[step]).c_str(),
                  static_cast<unsigned long long>(c.sectionBytes), (now - stepStart) / 1e6,
                  Hex(static_cast<uint32_t>(result)).c_str());
      if (result < 0 || ++step == 4) {
        final = result;
        finished = true;
        return;
      }
      c.sectionBytes = 0;
      stepStart = now;
      uint32_t next;
      s.ReadSection(order[step], limits[step], NowMs(), &next);
      if (order[step] == kSectionData) c.currentSection = next;
    };
    uint32_t first;
    s.ReadSection(order[0], limits[0], NowMs(), &first);
    c.RunUntil([&] { return finished || c.linkLost; }, 600000);
    c.onDone = nullptr;
    double seconds = (NowUs() - start) / 1e6;
    double payload = static_cast<double>(c.file.size() - 16);
    std::printf("download %.0f bytes in %.3f s: %.2f MB/s\n", payload, seconds,
                payload / seconds / 1e6);
    if (baud) {
      std::printf("serial efficiency %.1f%% of %u bit/s (payload bytes/s / %u)\n",
                  100.0 * payload / seconds / (baud / 10.0), baud, baud / 10);
    }
    if (!finished) {
      std::printf("download did not finish%s\n", c.linkLost ? ": link lost" : "");
      return c.linkLost ? 5 : 4;
    }
    if (final >= 0) std::memcpy(c.file.data(), kCaptureMagic, kMagicSize);
    if (final < 0 && !(cancelAt && final == kErrCancelled)) {
      std::printf("download failed %s\n", Hex(static_cast<uint32_t>(final)).c_str());
      rc = 4;
    }
    if (!out.empty() && !build::WriteFile(out, c.file)) {
      std::fprintf(stderr, "ksvw-sim-client: cannot write %s\n", out.c_str());
      rc = 4;
    }
    if (!expect.empty()) {
      std::vector<uint8_t> want = build::ReadFile(expect);
      if (want == c.file) {
        std::printf("download matches %s\n", expect.c_str());
      } else {
        std::printf("download differs from %s (%zu vs %zu bytes)\n", expect.c_str(), c.file.size(),
                    want.size());
        rc = 4;
      }
    }
  }

  if (keys > 0 && !c.linkLost) {
    s.SetMonitorInterval(kMonitorStart, NowMs());
    c.RunUntil([&] { return c.screens > 0; }, 5000);
    std::vector<double> ms;
    for (int k = 0; k < keys; ++k) {
      // Page down: every press shows another page.
      uint32_t code = 0x8016u;
      int before = c.screens;
      uint64_t pressed = NowUs();
      uint32_t key;
      s.PressKey(code, NowMs(), &key);
      if (!c.RunUntil([&] { return c.screens > before; }, 5000)) break;
      ms.push_back((c.screenAtUs - pressed) / 1000.0);
    }
    if (!ms.empty()) {
      double sum = 0;
      for (double v : ms) sum += v;
      std::printf("key -> screen over %zu presses: min %.2f ms, mean %.2f ms, max %.2f ms\n",
                  ms.size(), *std::min_element(ms.begin(), ms.end()), sum / ms.size(),
                  *std::max_element(ms.begin(), ms.end()));
    } else {
      std::printf("no screen came back after a key press\n");
      rc = rc ? rc : 4;
    }
    s.SetMonitorInterval(-1, NowMs());
  }

  if (c.linkLost) {
    std::printf("link lost\n");
    return 5;
  }
  uint32_t bye;
  if (s.Disconnect(NowMs(), &bye) == 0) c.RunUntil([&] { return c.lastDone == bye; }, 3000);
  std::printf("disconnected\n");
  close(fd);
  return rc;
}

}  // namespace
}  // namespace ksvw::sim

int main(int argc, char** argv) {
  return ksvw::sim::Main(argc, argv);
}
