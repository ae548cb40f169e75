// The library against simulated analyzers over TCP: failed connects,
// status flags, one download under a streaming control port and
// a stalled sink, the ways a transfer ends early. What the link protocol
// decides itself (refusals, silence, retries) is tested on the sessions; a
// link dropped during a download in the real program (GUI test
// `ProgramTest.LinkLostDuringDownloadKeepsTheOpenedCapture`); the calls on
// connecting and a released open device with the threads.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

using RemoteTcp = RemoteTest;

// A loopback TCP socket, listening or not, and its port.
SOCKET LoopbackSocket(bool listening, std::string& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (listening) listen(s, 1);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port = std::to_string(ntohs(a.sin_port));
  return s;
}

// A port of this machine with nothing listening on it.
std::string ClosedPort() {
  std::string port;
  closesocket(LoopbackSocket(false, port));
  return port;
}

// A LAN converter that streams on the control connection for as long as it
// is open: the library must read it in bounded bites and still run the link.
class ControlFlood {
 public:
  ControlFlood() : listener_(LoopbackSocket(true, port)), thread_([this] { Run(); }) {}
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
    for (int n; !stop_ && (n = send(c, junk.data(), static_cast<int>(junk.size()), 0)) > 0;)
      sent += static_cast<uint64_t>(n);
    if (conn_.exchange(INVALID_SOCKET) != INVALID_SOCKET) closesocket(c);
  }
  SOCKET listener_;
  std::atomic<SOCKET> conn_{INVALID_SOCKET};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Refused on the data port, and on the control port behind a listening data
// port; a COM port that the test prefix maps to nothing. (An unknown host is
// GUI test `Program/ConnectFailureTest.ShowsItsTextAndReturnsToNotConnected/HostNotFound`.)
TEST_F(RemoteTcp, ConnectFailuresCarryTheSystemsCode) {
  const int32_t refused = static_cast<int32_t>(0x8007274Du);  // WSAECONNREFUSED
  const int32_t notFound = static_cast<int32_t>(0x80070002u);
  std::string port = PortOf("KSVW_SIM_PORT");
  for (auto [s, code] : {std::pair{LanSettings("127.0.0.1", ClosedPort()), refused},
                         std::pair{LanSettings("127.0.0.1", port, ClosedPort()), refused},
                         std::pair{SerialSettings("COM9", 115200), notFound}}) {
    EXPECT_EQ(Connect(s), code) << s.ctport << s.com;
    EXPECT_EQ(device_->GetLinkState(), 0);
    EXPECT_EQ(device_->Close(), kOk);  // as the program closes after a failed connect
  }
  EXPECT_EQ(sink_.Count(SinkEvent::LinkState), 0);
}

// R runs a measurement, S stops it: each change is reported and read back.
// (Screens under monitoring are followed by the key emulator in the real
// program: GUI test `KeyEmulatorTest.OpensDisconnectedFollowsTheLinkAndKeysSendTheirCodes`.)
TEST_F(RemoteTcp, KeysBringStatusFlags) {
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", PortOf("KSVW_SIM_PORT"))), kOk);
  ASSERT_TRUE(sink_.WaitCount(SinkEvent::Status, 1, kWaitMs));  // the handshake's
  EXPECT_EQ(device_->GetStatusFlags(), 0u);
  int reports = sink_.Count(SinkEvent::Status);
  for (auto [key, flags] : {std::pair{0x8021, kStatusMeasuring}, std::pair{0x8022, 0u}}) {
    EXPECT_EQ(Run(kRequestKeyPress, key), kOk);
    ASSERT_TRUE(sink_.WaitCount(SinkEvent::Status, ++reports, kWaitMs));
    int64_t reported = -1;
    for (const SinkEvent& e : sink_.Events())
      reported = e.kind == SinkEvent::Status ? e.a : reported;
    EXPECT_EQ(reported, flags);
    EXPECT_EQ(device_->GetStatusFlags(), flags);
  }
  EXPECT_EQ(Disconnect(), kOk);
}

TEST_F(RemoteTcp, DownloadSurvivesAStreamingControlPortAndAStalledSink) {
  std::string port = PortOf("KSVW_SIM_BIG_PORT");
  ControlFlood flood;
  ASSERT_EQ(Connect(LanSettings("localhost", port, flood.port)), kOk);
  // The sink stalls at the data section's first bytes for longer than the
  // link's silence limit (3 s) while a 12 MiB capture pours in: the library
  // must stop taking data without calling the stall a lost link.
  bool stalled = false;
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest* r) {
    if (kind == SinkEvent::Data && r->dataCode == 0x8101 && !stalled) {
      stalled = true;
      Sleep(3500);
    }
  };
  DownloadMatches("tcp_download.DT", Env("KSVW_SIM_BIG_CAPTURE"));
  EXPECT_TRUE(stalled);
  EXPECT_GT(flood.sent.load(), 1024u * 1024u);  // it did stream throughout
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
  // Progress and data belong to transfers only, progress within its range.
  int progress = 0;
  for (const SinkEvent& e : sink_.Events()) {
    if (e.kind != SinkEvent::Data && e.kind != SinkEvent::Progress) continue;
    EXPECT_EQ(e.requestType, kRequestTransfer);
    EXPECT_TRUE(e.dataCode >= 0x8100 && e.dataCode <= 0x8103) << e.dataCode;
    progress += e.kind == SinkEvent::Progress;
    EXPECT_TRUE(e.kind == SinkEvent::Data || e.a <= e.b);
  }
  EXPECT_GT(progress, 0);
  EXPECT_EQ(Disconnect(), kOk);
}

// Cancelled from inside OnData (as the download dialog's Cancel) or right
// after the submit, declined by a sink without a file, failed by the sink:
// each transfer ends once with its code and the link carries on.
TEST_F(RemoteTcp, TransfersEndEarlyAndTheLinkCarriesOn) {
  std::string port = PortOf("KSVW_SIM_PORT");
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest* r) {
    if (kind == SinkEvent::Data && r->dataCode == 0x8101) {
      EXPECT_EQ(device_->Cancel(r), kOk);
    }
  };
  EXPECT_EQ(Download("tcp_cancel.DT"), kErrCancelled);
  EXPECT_EQ(sections_, (std::vector<int32_t>{0, 0, kErrCancelled}));
  int dataAfterCancel = -1;  // no bytes of the cancelled section after the cancel
  for (const SinkEvent& e : sink_.Events())
    dataAfterCancel += e.kind == SinkEvent::Data && e.dataCode == 0x8101;
  EXPECT_EQ(dataAfterCancel, 0);
  sink_.onEvent = nullptr;

  // Whether the library has started the section or not when the cancel
  // comes, the transfer ends as cancelled.
  for (int round = 0; round < 3; ++round) {
    RemoteRequest* r = Submit(kRequestTransfer, 0x8101, 0xC00000);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(device_->Submit(r), kErrFail);  // it is running
    EXPECT_EQ(device_->Cancel(r), kOk);
    EXPECT_EQ(sink_.WaitDone(r, kWaitMs), kErrCancelled);
    EXPECT_EQ(device_->Cancel(r), 1);
    r->Release();
  }
  // No fileHandle: the sink declines the bytes, and the transfer ends well.
  int offers = sink_.Count(SinkEvent::Data);
  EXPECT_EQ(Run(kRequestTransfer, 0x8100, 0x10000), kOk);
  EXPECT_GT(sink_.Count(SinkEvent::Data), offers);

  const int32_t diskFull = static_cast<int32_t>(0x80070070u);
  sink_.failDataWith = diskFull;
  EXPECT_EQ(Download("tcp_fail.DT"), diskFull);
  EXPECT_EQ(sections_, (std::vector<int32_t>{diskFull}));
  sink_.failDataWith = 0;

  EXPECT_EQ(Run(kRequestKeyPress, 0x8017), kOk);
  EXPECT_EQ(Disconnect(), kOk);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
}

}  // namespace
}  // namespace ksvw::rmttest
