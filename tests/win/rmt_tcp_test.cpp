// The library against simulated analyzers over TCP: connect and disconnect,
// the connect failures, identity, link state, key presses and screens, the
// four-section download, cancelling, a dropped link and a failing sink.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

using RemoteTcp = RemoteTest;

TEST_F(RemoteTcp, ConnectReportsIdentityAndStateThenDisconnects) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  EXPECT_EQ(device_->GetLinkState(), 1);
  ASSERT_EQ(Disconnect(), kOk);
  EXPECT_EQ(device_->GetLinkState(), 0);
  EXPECT_EQ(device_->Close(), kOk);

  std::vector<SinkEvent> ev = sink_.Events();
  // Identity, link up, connect done; later link down and disconnect done.
  auto find = [&](SinkEvent::Kind k, int from = 0) {
    for (size_t i = static_cast<size_t>(from); i < ev.size(); ++i)
      if (ev[i].kind == k) return static_cast<int>(i);
    return -1;
  };
  int identity = find(SinkEvent::Identity);
  int up = find(SinkEvent::LinkState);
  int connected = find(SinkEvent::Done);
  ASSERT_GE(identity, 0);
  ASSERT_GE(up, 0);
  ASSERT_GE(connected, 0);
  EXPECT_LT(identity, connected);
  EXPECT_LT(up, connected);
  EXPECT_EQ(ev[identity].a, 0x10024);  // MDCL board: a KS-9100 & XP-RT4QX
  EXPECT_EQ(ev[identity].b, 0);
  EXPECT_EQ(ev[up].result, 1);  // GetLinkState inside OnLinkStateChanged
  EXPECT_EQ(ev[connected].requestType, kRequestConnect);
  int down = find(SinkEvent::LinkState, up + 1);
  int disconnected = find(SinkEvent::Done, connected + 1);
  ASSERT_GE(down, 0);
  ASSERT_GE(disconnected, 0);
  EXPECT_EQ(ev[down].result, 0);
  EXPECT_LT(down, disconnected);
  EXPECT_EQ(ev[disconnected].requestType, kRequestDisconnect);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
  // Every call came on the library's threads.
  EXPECT_EQ(sink_.CallsOnThread(GetCurrentThreadId()), 0);
}

void ExpectSameFile(const std::string& got, const std::string& want) {
  std::vector<uint8_t> a = ReadWholeFile(got), b = ReadWholeFile(want);
  ASSERT_FALSE(b.empty()) << want << " cannot be read";
  ASSERT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b) << got << " differs from " << want;
}

// A LAN converter that streams on the control connection for as long as it
// is open: the library must read it in bounded bites and still run the link.
class ControlFlood {
 public:
  ControlFlood() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port = std::to_string(ntohs(a.sin_port));
    thread_ = std::thread([this] { Run(); });
  }
  ~ControlFlood() {
    stop_ = true;
    closesocket(listener_);  // ends a pending accept
    SOCKET c = conn_.exchange(INVALID_SOCKET);
    if (c != INVALID_SOCKET) closesocket(c);  // and a send the library does not read
    thread_.join();
  }
  std::string port;
  std::atomic<uint64_t> sent{0};

 private:
  void Run() {
    SOCKET c = accept(listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) return;
    conn_ = c;
    std::vector<char> junk(64 * 1024, 0x5A);
    while (!stop_) {
      int n = send(c, junk.data(), static_cast<int>(junk.size()), 0);
      if (n <= 0) break;
      sent += static_cast<uint64_t>(n);
    }
    if (conn_.exchange(INVALID_SOCKET) != INVALID_SOCKET) closesocket(c);
  }
  SOCKET listener_;
  std::atomic<SOCKET> conn_{INVALID_SOCKET};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(RemoteTcp, StreamingControlPortStillLetsADownloadComplete) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ControlFlood flood;
  ASSERT_EQ(Connect(LanSettings("localhost", port, flood.port)), kOk);
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_control_flood.DT"), kOk);
  ASSERT_EQ(sink_.WaitDownload(kDownloadWaitMs), kOk);
  ExpectSameFile("tcp_control_flood.DT", Env("KSVW_SIM_CAPTURE"));
  EXPECT_GT(flood.sent.load(), 1024u * 1024u);  // it did stream throughout
  EXPECT_EQ(Disconnect(), kOk);
}

// A port of this machine with nothing listening on it.
std::string ClosedPort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return std::to_string(ntohs(a.sin_port));
}

TEST_F(RemoteTcp, ConnectFailsWithTheSystemErrorWhenNothingListens) {
  std::string port = PortOf("KSVW_SIM_PORT");
  // Refused on the control port: WSAECONNREFUSED as a result code.
  EXPECT_EQ(Connect(LanSettings("127.0.0.1", port, ClosedPort())),
            static_cast<int32_t>(0x8007274Du));
  EXPECT_EQ(device_->Close(), kOk);
  EXPECT_EQ(Connect(LanSettings("127.0.0.1", ClosedPort())), static_cast<int32_t>(0x8007274Du));
  EXPECT_EQ(sink_.Count(SinkEvent::LinkState), 0);
}

TEST_F(RemoteTcp, UnknownHostIsNotFound) {
  EXPECT_EQ(Connect(LanSettings("no-such-host.invalid", "4000"), 30000), kErrHostNotFound);
  EXPECT_EQ(device_->Close(), kOk);
  EXPECT_EQ(device_->GetLinkState(), 0);
}

TEST_F(RemoteTcp, SilentAnalyzerTimesOut) {
  std::string port = PortOf("KSVW_SIM_SILENT_PORT");
  EXPECT_EQ(Connect(LanSettings("127.0.0.1", port)), kErrTimeout);
  EXPECT_EQ(device_->Close(), kOk);
  EXPECT_EQ(sink_.Count(SinkEvent::Identity), 0);
}

TEST_F(RemoteTcp, RefusalsCarryTheAnalyzersCode) {
  struct Case {
    const char* variable;
    int32_t code;
  } cases[] = {{"KSVW_SIM_BUSY_PORT", kErrAnalyzerBusy},
               {"KSVW_SIM_VERSION_PORT", kErrVersionMismatch},
               {"KSVW_SIM_BOARD_PORT", kErrNoOptionBoard}};
  for (const Case& c : cases) {
    std::string port = PortOf(c.variable);
    EXPECT_EQ(Connect(LanSettings("127.0.0.1", port)), c.code) << c.variable;
    EXPECT_EQ(device_->Close(), kOk);  // as the program closes after a failed connect
  }
  EXPECT_EQ(sink_.Count(SinkEvent::LinkState), 0);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
  EXPECT_EQ(sink_.Count(SinkEvent::Done), 3);
}

TEST_F(RemoteTcp, KeyPressBringsANewScreen) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(device_->SetMonitorInterval(kMonitorStart), kOk);
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  // Monitoring on: the analyzer's screen arrives without a key.
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Screen, 1, kWaitMs));
  uint8_t before[kScreenBytes], after[kScreenBytes];
  ASSERT_EQ(device_->CopyScreen(before, kScreenBytes), kOk);
  EXPECT_TRUE(std::any_of(before, before + kScreenBytes, [](uint8_t b) { return b != 0; }));

  int screens = sink_.Count(SinkEvent::Screen);
  RemoteRequest* key = Submit(kRequestKeyPress, 0x8016);  // page down
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(sink_.WaitDone(key, kWaitMs), kOk);
  key->Release();
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Screen, screens + 1, kWaitMs));
  ASSERT_EQ(device_->CopyScreen(after, kScreenBytes), kOk);
  EXPECT_NE(std::memcmp(before, after, kScreenBytes), 0);

  ASSERT_EQ(device_->SetMonitorInterval(kMonitorStop), kOk);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, MeasurementShowsInTheStatusFlags) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  EXPECT_EQ(device_->GetStatusFlags(), 0u);
  // The flags of the handshake are reported right after the connect.
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Status, 1, kWaitMs));
  int before = sink_.Count(SinkEvent::Status);
  RemoteRequest* run = Submit(kRequestKeyPress, 0x8021);  // R: run a measurement
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(sink_.WaitDone(run, kWaitMs), kOk);
  run->Release();
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Status, before + 1, kWaitMs));
  int64_t flags = -1;
  for (const SinkEvent& e : sink_.Events()) {
    if (e.kind == SinkEvent::Status) flags = e.a;
  }
  EXPECT_EQ(flags, 0x100);
  EXPECT_EQ(device_->GetStatusFlags(), kStatusMeasuring);
  RemoteRequest* stop = Submit(kRequestKeyPress, 0x8022);  // S: stop it
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(sink_.WaitDone(stop, kWaitMs), kOk);
  stop->Release();
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Status, before + 2, kWaitMs));
  EXPECT_EQ(device_->GetStatusFlags(), 0u);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, DownloadGivesTheAnalyzersCaptureByteForByte) {
  std::string port = PortOf("KSVW_SIM_PORT");
  std::string capture = Env("KSVW_SIM_CAPTURE");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_download.DT"), kOk);
  ASSERT_EQ(sink_.WaitDownload(kDownloadWaitMs), kOk);
  EXPECT_EQ(sink_.SectionResults(), (std::vector<int32_t>{0, 0, 0, 0}));
  ExpectSameFile("tcp_download.DT", capture);

  // Progress and data belong to transfers only, progress within its range.
  int progress = 0;
  for (const SinkEvent& e : sink_.Events()) {
    if (e.kind == SinkEvent::Data || e.kind == SinkEvent::Progress) {
      EXPECT_EQ(e.requestType, kRequestTransfer);
      EXPECT_GE(e.dataCode, 0x8100);
      EXPECT_LE(e.dataCode, 0x8103);
    }
    if (e.kind == SinkEvent::Progress) {
      ++progress;
      EXPECT_LE(e.a, e.b);
    }
  }
  EXPECT_GT(progress, 0);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, SlowSinkHoldsTheAnalyzerBackWithoutLosingTheLink) {
  std::string port = PortOf("KSVW_SIM_BIG_PORT");
  std::string capture = Env("KSVW_SIM_BIG_CAPTURE");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  // The sink stalls at the data section's first bytes for longer than the
  // link's silence limit (3 s) while a 12 MiB capture pours in: the library
  // must stop taking data without calling the stall a lost link.
  bool stalled = false;
  sink_.onData = [&](RemoteRequest* r, uint32_t) {
    if (r->dataCode == 0x8101 && !stalled) {
      stalled = true;
      Sleep(3500);
    }
  };
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_slow_sink.DT"), kOk);
  ASSERT_EQ(sink_.WaitDownload(kDownloadWaitMs), kOk);
  EXPECT_TRUE(stalled);
  ExpectSameFile("tcp_slow_sink.DT", capture);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, CancelEndsTheSectionAsCancelled) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  // Cancel from inside OnData, at the data section's first bytes, as the
  // download dialog's Cancel would.
  RemoteRequest* cancelled = nullptr;
  sink_.onData = [&](RemoteRequest* r, uint32_t) {
    if (r->dataCode == 0x8101 && !cancelled) {
      cancelled = r;
      r->AddRef();  // the test looks at it after its end
      EXPECT_EQ(device_->Cancel(r), kOk);
    }
  };
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_cancel.DT"), kOk);
  EXPECT_EQ(sink_.WaitDownload(kDownloadWaitMs), kErrCancelled);
  EXPECT_EQ(sink_.SectionResults(), (std::vector<int32_t>{0, 0, kErrCancelled}));
  // No bytes of the cancelled section reached the sink after the cancel.
  int dataAfterCancel = 0;
  bool seen = false;
  for (const SinkEvent& e : sink_.Events()) {
    if (e.kind == SinkEvent::Data && e.dataCode == 0x8101) dataAfterCancel += seen;
    if (e.kind == SinkEvent::Data && e.dataCode == 0x8101) seen = true;
  }
  EXPECT_EQ(dataAfterCancel, 0);
  ASSERT_NE(cancelled, nullptr);
  EXPECT_EQ(device_->Cancel(cancelled), 1);  // over: nothing left to cancel
  EXPECT_EQ(cancelled->result, kErrCancelled);
  cancelled->Release();
  // The link carries on.
  EXPECT_EQ(device_->GetLinkState(), 1);
  RemoteRequest* key = Submit(kRequestKeyPress, 0x8017);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(sink_.WaitDone(key, kWaitMs), kOk);
  key->Release();
  EXPECT_EQ(Disconnect(), kOk);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
}

TEST_F(RemoteTcp, SinkMayDeclineTheBytesOfATransferWithoutAFile) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  RemoteRequest* r = nullptr;
  ASSERT_EQ(device_->CreateRequest(&r), kOk);
  r->requestType = kRequestTransfer;
  r->dataCode = 0x8100;
  r->sectionLimit = 0x10000;  // no fileHandle: the sink stores nothing
  sink_.Watch(r);
  ASSERT_EQ(device_->Submit(r), kOk);
  EXPECT_EQ(sink_.WaitDone(r, kWaitMs), kOk);
  r->Release();
  // The bytes were offered and declined, and the transfer still ended well.
  int offers = 0;
  for (const SinkEvent& e : sink_.Events()) offers += e.kind == SinkEvent::Data;
  EXPECT_GT(offers, 0);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, CancelRightAfterSubmitEndsAsCancelled) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  // Whether the library has started the section or not when the cancel
  // comes, the transfer ends as cancelled, and a second cancel finds
  // nothing to do once it has ended.
  for (int round = 0; round < 3; ++round) {
    RemoteRequest* r = nullptr;
    ASSERT_EQ(device_->CreateRequest(&r), kOk);
    r->requestType = kRequestTransfer;
    r->dataCode = 0x8101;
    r->sectionLimit = 0xC00000;
    sink_.Watch(r);
    ASSERT_EQ(device_->Submit(r), kOk);
    EXPECT_EQ(device_->Submit(r), kErrFail);  // it is running
    EXPECT_EQ(device_->Cancel(r), kOk);
    EXPECT_EQ(sink_.WaitDone(r, kWaitMs), kErrCancelled);
    EXPECT_EQ(r->result, kErrCancelled);
    EXPECT_EQ(device_->Cancel(r), 1);
    r->Release();
  }
  EXPECT_EQ(device_->GetLinkState(), 1);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, FailedWriteEndsTheTransferWithItsCode) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  const int32_t diskFull = static_cast<int32_t>(0x80070070u);
  sink_.failDataWith = diskFull;
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_fail.DT"), kOk);
  EXPECT_EQ(sink_.WaitDownload(kDownloadWaitMs), diskFull);
  EXPECT_EQ(sink_.SectionResults(), (std::vector<int32_t>{diskFull}));
  sink_.failDataWith = 0;
  EXPECT_EQ(device_->GetLinkState(), 1);
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, DroppedLinkEndsTheTransferAndIsLostOnce) {
  std::string port = PortOf("KSVW_SIM_DROP_PORT");
  // As the program does: a lost link closes the device from the callback.
  sink_.onLinkLost = [&] { EXPECT_EQ(device_->Close(), kOk); };
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  ASSERT_EQ(sink_.StartDownload(device_, "tcp_drop.DT"), kOk);
  int32_t result = sink_.WaitDownload(kDownloadWaitMs);
  EXPECT_LT(result, 0);
  EXPECT_NE(result, kErrCancelled);
  std::vector<int32_t> sections = sink_.SectionResults();
  ASSERT_EQ(sections.size(), 3u);  // the data section (0x8101) was the one cut
  EXPECT_LT(sections[2], 0);
  Sleep(500);  // nothing more may follow
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 1);
  EXPECT_EQ(device_->GetLinkState(), 0);
  EXPECT_EQ(device_->Close(), 1);  // closed by the callback already
}

TEST_F(RemoteTcp, ReleasingAnOpenDeviceEndsItsLink) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  RemoteRequest* key = Submit(kRequestKeyPress, 0x8017);
  ASSERT_NE(key, nullptr);
  device_->Release();  // neither Close nor disconnect first
  device_ = nullptr;
  key->Release();
  // The analyzer is free again for the next host.
  ASSERT_EQ(KSCreateRemote(&device_), kOk);
  sink_.Attach(device_);
  device_->Advise(&sink_);
  EXPECT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  EXPECT_EQ(Disconnect(), kOk);
}

}  // namespace
}  // namespace ksvw::rmttest
