// The library's promise to a GUI program: every sink call comes on a
// library thread, no operation waits for one, a sink may block in a
// synchronous SendMessage to the GUI thread and call back into the device,
// and the last Release leaves no sink call behind.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

using RemoteThreads = RemoteTest;

// Polls `flag` for up to kWaitMs; its last value.
bool Eventually(const std::atomic<bool>& flag) {
  for (DWORD until = GetTickCount() + kWaitMs; !flag && GetTickCount() < until;) Sleep(5);
  return flag;
}

TEST_F(RemoteThreads, OperationsDoNotWaitForABlockedSink) {
  std::string port = PortOf("KSVW_SIM_PORT");
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> blocked{false};
  std::atomic<bool> timedOut{false};
  // The first screen blocks the dispatcher until the test lets it go.
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest*) {
    if (kind != SinkEvent::Screen || blocked.exchange(true)) return;
    if (WaitForSingleObject(release, 20000) != WAIT_OBJECT_0) timedOut = true;
  };
  ASSERT_EQ(device_->SetMonitorInterval(kMonitorStart), kOk);
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  ASSERT_TRUE(Eventually(blocked));

  // Everything the GUI thread calls returns while the sink is stuck (had
  // one of them waited for the dispatcher, the sink's wait would time out).
  uint8_t screen[kScreenBytes];
  ConnectionSettings s = LanSettings("127.0.0.1", port);
  RemoteRequest* key = Submit(kRequestKeyPress, 0x8016);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(device_->Cancel(key), kOk);  // a key press can be cancelled too
  EXPECT_EQ(device_->SetMonitorInterval(kMonitorStop), kOk);
  EXPECT_EQ(device_->GetLinkState(), 1);
  device_->GetStatusFlags();
  EXPECT_EQ(device_->CopyScreen(screen, kScreenBytes), kOk);
  EXPECT_EQ(device_->Configure(&s), kOk);
  EXPECT_EQ(device_->Close(), kOk);
  SetEvent(release);
  // The key press still ends, after the sink is free again: cancelled, or
  // ended by the close if that reached the link first.
  int32_t result = sink_.WaitDone(key, kWaitMs);
  EXPECT_TRUE(result == kErrCancelled || result == kErrNotConnected) << result;
  key->Release();
  CloseHandle(release);
  EXPECT_FALSE(timedOut);
}

TEST_F(RemoteThreads, LastReleaseOfAnOpenDeviceServesASinkBlockedInSendMessageAndEndsTheLink) {
  std::string port = PortOf("KSVW_SIM_PORT");
  // A window of this (the "GUI") thread that the sink sends to, as the
  // program's sink sends the status bar text.
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  std::atomic<bool> inCall{false}, answered{false}, released{false};
  std::atomic<int> callsAfterRelease{0};
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest*) {
    if (released) ++callsAfterRelease;
    if (kind != SinkEvent::Screen || inCall.exchange(true)) return;
    Sleep(100);  // let the test thread get into Release first
    DWORD_PTR answer = 0;
    answered = SendMessageTimeoutW(window, WM_APP + 1, 0, 0, SMTO_NORMAL, 20000, &answer) != 0;
  };
  ASSERT_EQ(device_->SetMonitorInterval(kMonitorStart), kOk);
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  ASSERT_TRUE(Eventually(inCall));
  RemoteRequest* key = Submit(kRequestKeyPress, 0x8017);  // still running at the release
  ASSERT_NE(key, nullptr);
  // This thread pumps no messages itself: only the release's wait can serve
  // the sink's SendMessage (which gives up after 20 s otherwise), and the
  // release waits for the sink's call to end. Neither Close nor a disconnect
  // came first.
  device_->Release();
  device_ = nullptr;
  released = true;
  key->Release();
  EXPECT_TRUE(answered);
  Sleep(200);
  EXPECT_EQ(callsAfterRelease.load(), 0);
  DestroyWindow(window);
  // The analyzer is free again for the next host.
  sink_.onEvent = nullptr;
  ASSERT_EQ(KSCreateRemote(&device_), kOk);
  ASSERT_EQ(device_->Advise(&sink_), kOk);
  EXPECT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  EXPECT_EQ(Disconnect(), kOk);
}

// Every report of a connect and a disconnect comes on the library's
// threads; inside the disconnect's end the sink closes the device and lets
// it go, and nothing follows. (What the reports say is shown by the real
// program: the model's text, and the key emulator following the link.)
TEST_F(RemoteThreads, ConnectReportsAndTheSinkMayCloseAndReleaseTheDeviceInsideACallback) {
  std::string port = PortOf("KSVW_SIM_PORT");
  RemoteDevice* device = device_;
  std::atomic<int> after{0};
  std::atomic<bool> gone{false};
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest* r) {
    if (gone) ++after;
    if (kind == SinkEvent::Done && r && r->requestType == kRequestDisconnect) {
      EXPECT_EQ(device->Close(), kOk);
      device->Release();  // the last reference, on the library's thread
      gone = true;
    }
  };
  ASSERT_EQ(Connect(LanSettings("127.0.0.1", port)), kOk);
  EXPECT_EQ(device_->GetLinkState(), 1);
  RemoteRequest* bye = Submit(kRequestDisconnect);
  device_ = nullptr;  // the callback owns the reference now
  ASSERT_NE(bye, nullptr);
  EXPECT_EQ(sink_.WaitDone(bye, kWaitMs), kOk);
  bye->Release();
  EXPECT_TRUE(Eventually(gone));
  Sleep(200);
  EXPECT_EQ(after.load(), 0);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkState), 2);
  for (const SinkEvent& e : sink_.Events()) EXPECT_NE(e.thread, GetCurrentThreadId());
}

}  // namespace
}  // namespace ksvw::rmttest
