#include "tools/ksvw-remote/win32/session.h"

#include <algorithm>
#include <atomic>

#include "common/counted_ref.h"

namespace ksvw::remote {

namespace {

// Posted by the link when the analyzer reported a new screen.
constexpr UINT kScreenReport = WM_APP + 20;
// A wait looks at its condition at least this often (conditions on the
// library's state, such as the status flags, come without a message).
constexpr DWORD kPollMs = 10;
constexpr uint32_t kDisconnectMs = 5000;

HANDLE interruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  // A second Ctrl-C ends the process at once (the default handler).
  if (WaitForSingleObject(interruptEvent, 0) == WAIT_OBJECT_0) return FALSE;
  SetEvent(interruptEvent);
  return TRUE;
}

}  // namespace

// The program's link object, telling the tool also of screen reports and
// of what the download chain's file came to. Its overrides run on the
// library's threads.
class Session::Link final : public CKSRemote4q {
 public:
  explicit Link(HWND window) : CKSRemote4q(window, KSCreateRemote) {}

  int32_t OnScreenChanged() override {
    PostMessageA(OwnerWindow(), kScreenReport, 0, 0);
    return CKSRemote4q::OnScreenChanged();
  }
  // Noted before the chain goes on (and posts its end).
  int32_t OnRequestDone(RemoteRequest* request) override {
    if (request && request->requestType == kRequestTransfer) {
      lastSectionResult = request->result;
      lastSection = request->dataCode;
    }
    return CKSRemote4q::OnRequestDone(request);
  }
  int32_t OnData(RemoteRequest* request, int32_t ignored, const uint8_t* buffer,
                 uint32_t* size) override {
    int32_t result = CKSRemote4q::OnData(request, ignored, buffer, size);
    if (result < 0) writeFailed = true;
    return result;
  }

  std::atomic<int32_t> lastSection{0};
  std::atomic<int32_t> lastSectionResult{0};
  std::atomic<bool> writeFailed{false};
};

void Session::WatchInterrupt() {
  interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Session::Interrupted() {
  return interruptEvent && WaitForSingleObject(interruptEvent, 0) == WAIT_OBJECT_0;
}

Session::Session() {
  static const char kClass[] = "KESTRIN_ksvw_remote_Session";
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClass;
  RegisterClassA(&windowClass);
  window_ = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, this);
  link_ = std::make_unique<Link>(window_);
}

Session::~Session() {
  Close();
  if (window_) DestroyWindow(window_);
}

LRESULT CALLBACK Session::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* session = reinterpret_cast<Session*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!session) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_APP_REQUEST_DONE:
      session->OnRequestDone(reinterpret_cast<RemoteRequest*>(lParam));
      return 0;
    case WM_APP_LINK_CLOSED: {
      auto device = CountedRef<RemoteDevice>::Adopt(reinterpret_cast<RemoteDevice*>(lParam));
      if (device) device->Close();
      return 0;
    }
    case WM_APP_LINK_LOST: session->linkLost_ = true; return 0;
    case WM_APP_DOWNLOAD_STEP: ++session->downloadPart_; return 0;
    case WM_APP_DOWNLOAD_PROGRESS:
      if (session->progress_)
        session->progress_(static_cast<int64_t>(wParam), static_cast<int64_t>(lParam),
                           session->downloadPart_);
      return 0;
    case WM_APP_DOWNLOAD_DONE:
      session->downloadEnded_ = true;
      session->downloadCode_ = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      return 0;
    case kScreenReport:
      ++session->screenReports_;
      session->lastScreenTick_ = GetTickCount();
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The request comes with a reference of its own, which goes here.
void Session::OnRequestDone(RemoteRequest* raw) {
  auto request = CountedRef<RemoteRequest>::Adopt(raw);
  if (!request) return;
  switch (request->requestType) {
    case kRequestConnect:
      connectEnded_ = true;
      connectCode_ = request->result;
      break;
    case kRequestDisconnect: disconnectEnded_ = true; break;
    case kRequestKeyPress:
      if (request.get() == pendingKey_) {
        keyEnded_ = true;
        keyCode_ = request->result;
      }
      break;
    default: break;
  }
}

Session::Wait Session::PumpUntil(const std::function<bool()>& met, uint32_t ms, unsigned through) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (met()) return Wait::Met;
    const bool watchInterrupt = !(through & kThroughInterrupt);
    if (watchInterrupt && Interrupted()) return Wait::Interrupted;
    if (!(through & kThroughLinkLoss) && linkLost_) return Wait::LinkLost;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return Wait::TimedOut;
    MsgWaitForMultipleObjects(watchInterrupt ? 1 : 0, &interruptEvent, FALSE,
                              std::min<DWORD>(ms - elapsed, kPollMs), QS_ALLINPUT);
  }
}

int32_t Session::Connect(const ConnectionSettings& settings, uint32_t ms) {
  if (!window_) return ResultFromSystemError(GetLastError());
  int32_t result = link_->Initialize(&settings);
  if (result < 0) return result;
  connectEnded_ = false;
  result = link_->Connect();
  if (result < 0) return result;
  if (PumpUntil([&] { return connectEnded_; }, ms, kThroughLinkLoss) != Wait::Met)
    return kErrTimeout;
  connected_ = connectCode_ >= 0;
  return connectCode_;
}

void Session::Close() {
  if (!link_) return;
  if (Connected()) {
    disconnectEnded_ = false;
    if (link_->Disconnect() >= 0)
      PumpUntil([&] { return disconnectEnded_; }, kDisconnectMs,
                kThroughInterrupt | kThroughLinkLoss);
  }
  // Whatever ran (a connect that got no answer, a link that was lost),
  // the device closes before it goes.
  CountedRef<RemoteDevice> device;
  if (link_->AcquireDevice(device.Put()) >= 0 && device) device->Close();
  device.Reset();
  link_.reset();
  connected_ = false;
  // What the queue still holds carries references to let go.
  PumpUntil([] { return false; }, 0, kThroughInterrupt | kThroughLinkLoss);
}

Session::Wait Session::PressKey(uint32_t value, uint32_t ms, int32_t& code) {
  CountedRef<RemoteDevice> device;
  code = link_->AcquireDevice(device.Put());
  if (code < 0) return Wait::Met;
  CountedRef<RemoteRequest> request;
  code = device->CreateRequest(request.Put());
  if (code < 0 || !request) {
    code = code < 0 ? code : kErrPointer;
    return Wait::Met;
  }
  request->requestType = kRequestKeyPress;
  request->dataCode = static_cast<int32_t>(value);
  pendingKey_ = request.get();
  keyEnded_ = false;
  code = device->Submit(request.get());
  Wait wait = Wait::Met;
  if (code >= 0) {
    wait = PumpUntil([&] { return keyEnded_; }, ms);
    code = wait == Wait::Met ? keyCode_ : kErrTimeout;
    if (wait == Wait::TimedOut) device->Cancel(request.get());
  }
  pendingKey_ = nullptr;
  return wait;
}

void Session::MonitorScreen() {
  link_->UpdateMonitorInterval(kMonitorStart);
}

int32_t Session::Model() {
  return link_->ReadIdentity(nullptr);
}

void Session::CancelDownload() {
  link_->CancelTransfer();
}

bool Session::CopyScreen(uint8_t* screen) {
  CountedRef<RemoteDevice> device;
  if (screenReports_ == 0 || link_->AcquireDevice(device.Put()) < 0 || !device) return false;
  return device->CopyScreen(screen, kScreenBytes) >= 0;
}

uint32_t Session::StatusFlags() {
  CountedRef<RemoteDevice> device;
  if (link_->AcquireDevice(device.Put()) < 0 || !device) return 0;
  return device->GetStatusFlags();
}

int32_t Session::StartDownload(const DownloadFile& file) {
  downloadEnded_ = false;
  downloadCode_ = 0;
  downloadPart_ = 0;
  link_->writeFailed = false;
  link_->lastSection = 0;
  return file.Start(link_.get());
}

bool Session::DownloadFileFailed() const {
  return link_->writeFailed ||
         (link_->lastSection == kSectionTail && link_->lastSectionResult >= 0);
}

}  // namespace ksvw::remote
