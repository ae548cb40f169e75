#include "remote/win32/ks_remote4q.h"

#include <commctrl.h>

#include <cstring>

#include "capture/capture_reader.h"

namespace ksvw {

namespace {

// How long a library thread waits for the GUI thread to take a sent message.
constexpr UINT kSendTimeoutMs = 5000;

int32_t LastErrorResult() {
  return ResultFromSystemError(GetLastError());
}

HANDLE FileOf(const RemoteRequest* request) {
  // Handles travel as 32-bit values and are sign-extended back.
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(request->fileHandle));
}

int32_t HandleField(HANDLE file) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(file));
}

// The download chain: after each section the next one, its limit and the
// step the status bar shows while it runs. The analyzer's sections are asked
// for in this order; the last one (0x8103) finishes the file instead.
struct ChainStep {
  int32_t after;
  int32_t section;
  int32_t limit;
  WPARAM step;
};
constexpr ChainStep kChainSteps[] = {
    {kSectionHead, kSectionDataHeader, kSectionLimitSmall, 3},
    {kSectionDataHeader, kSectionData, kSectionLimitData, 2},
    {kSectionData, kSectionTail, kSectionLimitSmall, 4},
};

const ChainStep* NextChainStep(int32_t finishedSection) {
  for (const ChainStep& step : kChainSteps) {
    if (step.after == finishedSection) return &step;
  }
  return nullptr;
}

bool IsTransferSection(int32_t dataCode) {
  return dataCode >= kSectionHead && dataCode <= kSectionTail;
}

// Writes all `size` bytes; false with the system error left in place.
bool WriteAll(HANDLE file, const void* bytes, DWORD size, DWORD* written) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  DWORD total = 0;
  while (total < size) {
    DWORD n = 0;
    if (!WriteFile(file, p + total, size - total, &n, nullptr)) {
      *written = total;
      return false;
    }
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      *written = total;
      return false;
    }
    total += n;
  }
  *written = total;
  return true;
}

}  // namespace

const char* ModelText(int32_t model) {
  switch (model) {
    case 0x10012: return "KS-4100 & XP-RT4Q";
    case 0x10013: return "KS-6100 & XP-RT4Q";
    case 0x10014: return "KS-9100 & XP-RT4Q";
    case 0x10022: return "KS-4100 & XP-RT4QX";
    case 0x10023: return "KS-6100 & XP-RT4QX";
    case 0x10024: return "KS-9100 & XP-RT4QX";
    default: return nullptr;
  }
}

CKSRemote4q::CKSRemote4q(HWND owner, CreateRemoteFunction createRemoteFunction)
    : ownerWindow(owner), createRemote(createRemoteFunction) {
  identity.size = sizeof(DeviceIdentity);
  identity.model = 0x10014;
  identity.variant = 7;
  identity.detail = 0;
}

CKSRemote4q::~CKSRemote4q() {
  CountedRef<RemoteRequest> request;
  CountedRef<RemoteDevice> held;
  {
    std::lock_guard<std::mutex> lock(linkLock);
    request = std::move(currentRequest);
    held = std::move(device);
  }
  request.Reset();
  // The device may outlive this object (a posted message can still hold
  // a reference): make sure it calls no sink that is going away.
  if (held) held->Advise(nullptr);
}

CountedRef<RemoteDevice> CKSRemote4q::HeldDevice() {
  std::lock_guard<std::mutex> lock(linkLock);
  return CountedRef<RemoteDevice>::Share(device.get());
}

template <class T>
void CKSRemote4q::PostWithReference(UINT message, T* object) {
  CountedRef<T> reference = CountedRef<T>::Share(object);
  if (PostMessageA(ownerWindow, message, 0, reinterpret_cast<LPARAM>(object)))
    (void)reference.Detach();  // the receiver's now
}

void CKSRemote4q::SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!window) return;
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &result);
}

int32_t CKSRemote4q::Initialize(const ConnectionSettings* settings) {
  CountedRef<RemoteDevice> created;
  int32_t result = createRemote ? createRemote(created.Put()) : kErrPointer;
  if (result < 0 || !created) return result < 0 ? result : kErrPointer;
  RemoteDevice* fresh = created.get();
  // The earlier device goes: it may hold a transport open, and nothing else
  // would ever release it.
  CountedRef<RemoteDevice> earlier;
  {
    std::lock_guard<std::mutex> lock(linkLock);
    earlier = std::move(device);
    device = std::move(created);
  }
  if (earlier) {
    earlier->Advise(nullptr);
    earlier.Reset();
  }
  // The link's own reference keeps `fresh` while this runs on the GUI
  // thread, the only one that replaces the device.
  result = fresh->Configure(settings);
  if (result < 0) return result;
  return fresh->Advise(this);
}

int32_t CKSRemote4q::Connect() {
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return kErrPointer;
  int32_t result = held->Open();
  if (result < 0) return result;
  CountedRef<RemoteRequest> request;
  result = held->CreateRequest(request.Put());
  if (result < 0 || !request) {
    held->Close();
    return result < 0 ? result : kErrPointer;
  }
  request->requestType = kRequestConnect;
  result = held->Submit(request.get());
  request.Reset();
  if (result < 0) held->Close();
  return result;
}

int32_t CKSRemote4q::Disconnect() {
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return kErrPointer;
  CountedRef<RemoteRequest> request;
  int32_t result = held->CreateRequest(request.Put());
  if (result < 0) return result;
  if (!request) return kErrPointer;
  request->requestType = kRequestDisconnect;
  return held->Submit(request.get());
}

int32_t CKSRemote4q::CancelTransfer() {
  CountedRef<RemoteDevice> held;
  CountedRef<RemoteRequest> request;
  {
    std::lock_guard<std::mutex> lock(linkLock);
    if (!device) return kErrPointer;
    // Between two sections there is no current request: the chain sees
    // the flag before it asks for the next one. A request made current but
    // not yet submitted is cancelled again once Submit returns.
    if (downloadRunning) cancelRequested = true;
    if (!currentRequest) return downloadRunning ? 0 : 1;
    held = CountedRef<RemoteDevice>::Share(device.get());
    request = CountedRef<RemoteRequest>::Share(currentRequest.get());
  }
  return held->Cancel(request.get());
}

int32_t CKSRemote4q::StartDownload(const char* path) {
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return kErrPointer;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorResult();
  {
    std::lock_guard<std::mutex> lock(linkLock);
    downloadRunning = true;
    cancelRequested = false;
  }
  static const uint8_t zeros[16] = {};
  DWORD written = 0;
  int32_t result = WriteAll(file, zeros, sizeof zeros, &written)
                       ? SubmitSection(held.get(), file, kSectionHead, kSectionLimitSmall, 1)
                       : LastErrorResult();
  if (result < 0) {
    CloseHandle(file);
    std::lock_guard<std::mutex> lock(linkLock);
    downloadRunning = false;
  }
  return result;
}

bool CKSRemote4q::DownloadRunning() const {
  std::lock_guard<std::mutex> lock(linkLock);
  return downloadRunning;
}

int32_t CKSRemote4q::ContinueDownload(HANDLE file, int32_t section, int32_t limit) {
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return kErrPointer;
  return SubmitSection(held.get(), file, section, limit, 0);
}

int32_t CKSRemote4q::SubmitSection(RemoteDevice* held, HANDLE file, int32_t section, int32_t limit,
                                   WPARAM stepBeforeSubmit) {
  CountedRef<RemoteRequest> request;
  int32_t result = held->CreateRequest(request.Put());
  if (result < 0 || !request) return result < 0 ? result : kErrPointer;
  request->requestType = kRequestTransfer;
  request->fileHandle = HandleField(file);
  request->dataCode = section;
  request->reserved = 0;
  request->sectionLimit = limit;
  // The request becomes current before it is submitted: the library may
  // finish it on its own thread before Submit returns here.
  CountedRef<RemoteRequest> replaced;
  {
    std::lock_guard<std::mutex> lock(linkLock);
    if (cancelRequested) return kErrCancelled;
    replaced = std::move(currentRequest);
    currentRequest = CountedRef<RemoteRequest>::Share(request.get());
  }
  replaced.Reset();
  if (stepBeforeSubmit) PostMessageA(ownerWindow, WM_APP_DOWNLOAD_STEP, stepBeforeSubmit, 0);
  result = held->Submit(request.get());
  if (result >= 0) {
    // A cancel that found the request current before the library knew it.
    bool cancel;
    {
      std::lock_guard<std::mutex> lock(linkLock);
      cancel = cancelRequested && currentRequest.get() == request.get();
    }
    if (cancel) held->Cancel(request.get());
  } else {
    ForgetCurrentRequest(request.get());
  }
  return result;
}

int32_t CKSRemote4q::FinishDownload(HANDLE file) {
  // Drop whatever an older, longer file left behind the data.
  if (!SetEndOfFile(file)) return LastErrorResult();
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return LastErrorResult();
  DWORD written = 0;
  if (!WriteAll(file, kCaptureMagic, kMagicSize, &written)) return LastErrorResult();
  return 0;
}

void CKSRemote4q::ContinueChain(RemoteRequest* request) {
  HANDLE file = FileOf(request);
  int32_t code = request->result;
  if (request->dataCode == kSectionTail) {
    if (code >= 0) code = FinishDownload(file);
  } else {
    const ChainStep* next = NextChainStep(request->dataCode);
    if (!next) return;  // not a section of ours: nothing is closed or posted
    if (code >= 0) {
      code = ContinueDownload(file, next->section, next->limit);
      if (code >= 0) {
        PostMessageA(ownerWindow, WM_APP_DOWNLOAD_STEP, next->step, 0);
        return;
      }
    }
  }
  EndChain(file, code);
}

void CKSRemote4q::EndChain(HANDLE file, int32_t code) {
  CloseHandle(file);
  {
    std::lock_guard<std::mutex> lock(linkLock);
    downloadRunning = false;
    cancelRequested = false;
  }
  PostMessageA(ownerWindow, WM_APP_DOWNLOAD_DONE, static_cast<WPARAM>(static_cast<uint32_t>(code)),
               0);
}

int32_t CKSRemote4q::ReadIdentity(int32_t* variant) {
  std::lock_guard<std::mutex> lock(linkLock);
  if (variant) *variant = identity.variant;
  return identity.model;
}

void CKSRemote4q::UpdateMonitorInterval(int32_t value) {
  if (value < 0 && monitorInterval < 0) return;
  if (value == monitorInterval) return;
  monitorInterval = value;
  if (!monitorEnabled) return;
  if (CountedRef<RemoteDevice> held = HeldDevice())
    held->SetMonitorInterval(value < 0 ? kMonitorStop : value);
}

int32_t CKSRemote4q::AcquireDevice(RemoteDevice** out) {
  if (!out) return kErrPointer;
  *out = HeldDevice().Detach();
  return *out ? 0 : kErrPointer;
}

// The key emulator and its panel change together under linkLock, and the
// notifications read them under it: a library thread never posts to a
// panel that the GUI thread has already let go.
void CKSRemote4q::SetKeyEmulator(KeyEmulator* emulator, HWND panel) {
  std::lock_guard<std::mutex> lock(linkLock);
  keyEmulatorPanel.store(panel);
  keyEmulator.store(emulator);
}

void CKSRemote4q::NotifyKeyEmulator(WPARAM what) {
  std::lock_guard<std::mutex> lock(linkLock);
  HWND panel = keyEmulatorPanel.load();
  if (keyEmulator.load() && panel) PostMessageA(panel, WM_APP_KEYEMU_NOTIFY, what, 0);
}

int32_t CKSRemote4q::OnIdentity(int32_t model, int32_t detail) {
  {
    std::lock_guard<std::mutex> lock(linkLock);
    std::memset(&identity, 0, sizeof identity);
    identity.size = sizeof(DeviceIdentity);
    identity.model = model;
    identity.detail = detail;
  }
  const char* text = ModelText(model);
  if (!text) return 0;
  SendBounded(statusBar.load(), SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  return 1;
}

int32_t CKSRemote4q::OnLinkStateChanged() {
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return 0;
  linkState.store(held->GetLinkState());
  NotifyKeyEmulator(kNotifyLinkState);
  PostMessageA(ownerWindow, WM_APP_LINK_STATE, 0, static_cast<LPARAM>(held->GetLinkState()));
  return 0;
}

void CKSRemote4q::ForgetCurrentRequest(RemoteRequest* request) {
  CountedRef<RemoteRequest> finished;
  std::lock_guard<std::mutex> lock(linkLock);
  if (currentRequest.get() == request) finished = std::move(currentRequest);
}

int32_t CKSRemote4q::OnRequestDone(RemoteRequest* request) {
  if (!request) return 0;
  PostWithReference(WM_APP_REQUEST_DONE, request);
  CountedRef<RemoteDevice> held = HeldDevice();
  if (!held) return 0;
  switch (request->requestType) {
    case kRequestConnect:
      if (request->result < 0) PostWithReference(WM_APP_LINK_CLOSED, held.get());
      break;
    case kRequestDisconnect: PostWithReference(WM_APP_LINK_CLOSED, held.get()); break;
    case kRequestTransfer:
      ForgetCurrentRequest(request);
      ContinueChain(request);
      break;
    default: break;
  }
  return 0;
}

int32_t CKSRemote4q::OnProgress(RemoteRequest* request, int32_t position, int32_t range) {
  bool current;
  {
    std::lock_guard<std::mutex> lock(linkLock);
    current = request && request == currentRequest.get();
  }
  if (current)
    PostMessageA(ownerWindow, WM_APP_DOWNLOAD_PROGRESS,
                 static_cast<WPARAM>(static_cast<uint32_t>(position)), static_cast<LPARAM>(range));
  return 0;
}

int32_t CKSRemote4q::OnLinkLost() {
  linkState.store(0);
  if (CountedRef<RemoteDevice> held = HeldDevice()) {
    held->Close();
    PostMessageA(ownerWindow, WM_APP_LINK_LOST, 0, 0);
  }
  SendBounded(downloadDialog.load(), WM_COMMAND, IDCANCEL, 0);
  return 0;
}

int32_t CKSRemote4q::OnStatusFlags(uint32_t flags) {
  // The main window derives the download command's state from the flags
  // (and from the key emulator and the link), so it hears of every change.
  SendBounded(ownerWindow, WM_APP_STATUS_FLAGS, flags, 0);
  return 0;
}

int32_t CKSRemote4q::OnScreenChanged() {
  NotifyKeyEmulator(kNotifyScreen);
  return 0;
}

int32_t CKSRemote4q::OnData(RemoteRequest* request, int32_t, const uint8_t* buffer,
                            uint32_t* size) {
  if (!request || !size || *size == 0 || !buffer) return 0;
  if (request->requestType != kRequestTransfer || !IsTransferSection(request->dataCode)) return 0;
  HANDLE file = FileOf(request);
  if (request->fileHandle == 0 || file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  bool ok = WriteAll(file, buffer, *size, &written);
  *size = written;
  return ok ? 0 : LastErrorResult();
}

}  // namespace ksvw
