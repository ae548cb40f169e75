// The program's one link to the analyzer: owns the remote library's device,
// runs connect, disconnect and the download chain, and is the event sink the
// library calls back on its own threads. Each event becomes a message posted
// to the owner window, so that all user-interface work stays on the GUI
// thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/counted_ref.h"
#include "remote/ksvwrmt.h"
#include "settings/connection_settings.h"

namespace ksvw {

// Messages posted to the owner window (the main window).
inline constexpr UINT WM_APP_REQUEST_DONE = WM_APP + 0;   // lParam: RemoteRequest, one reference
inline constexpr UINT WM_APP_LINK_STATE = WM_APP + 1;     // lParam: link state
inline constexpr UINT WM_APP_LINK_CLOSED = WM_APP + 2;    // lParam: RemoteDevice, one reference
inline constexpr UINT WM_APP_DOWNLOAD_DONE = WM_APP + 3;  // wParam: final result code
inline constexpr UINT WM_APP_DOWNLOAD_STEP = WM_APP + 4;  // wParam: step 1 to 4
inline constexpr UINT WM_APP_DOWNLOAD_PROGRESS = WM_APP + 5;  // wParam: position, lParam: range
inline constexpr UINT WM_APP_LINK_LOST = WM_APP + 6;
// Sent (bounded in time) by OnStatusFlags: wParam the analyzer's status flags.
inline constexpr UINT WM_APP_STATUS_FLAGS = WM_APP + 7;
// Posted to the key emulator's panel window, wParam one of the two below.
inline constexpr UINT WM_APP_KEYEMU_NOTIFY = WM_APP + 0;
inline constexpr WPARAM kNotifyLinkState = 1;  // the link state changed
inline constexpr WPARAM kNotifyScreen = 4;     // the analyzer's screen changed

#pragma pack(push, 4)
struct DeviceIdentity {
  uint32_t size;
  int32_t model;
  int32_t variant;
  int32_t detail;
  uint8_t rest[852];
};
#pragma pack(pop)
static_assert(sizeof(DeviceIdentity) == 868);

// The status-bar text of an analyzer model, or null for a code outside the
// six known models.
const char* ModelText(int32_t model);

// Makes a new device (the library's KSCreateRemote, or a test's fake).
using CreateRemoteFunction = int32_t (*)(RemoteDevice** device);

class KeyEmulator;

class CKSRemote4q : public RemoteEventSink {
 public:
  CKSRemote4q(HWND ownerWindow, CreateRemoteFunction createRemote);
  ~CKSRemote4q() override;
  CKSRemote4q(const CKSRemote4q&) = delete;
  CKSRemote4q& operator=(const CKSRemote4q&) = delete;

  // Windows that sink events update directly (synchronously): status bar
  // part 0 (model), the download dialog (Cancel when the link is lost). Any
  // may be null.
  void SetStatusBar(HWND window) { statusBar.store(window); }
  void SetDownloadDialog(HWND window) { downloadDialog.store(window); }
  HWND DownloadDialog() const { return downloadDialog.load(); }

  // GUI thread.
  int32_t Initialize(const ConnectionSettings* settings);
  int32_t Connect();
  int32_t Disconnect();
  // Cancels the running section; between two sections the cancel is
  // remembered and the chain ends with kErrCancelled instead of asking for
  // the next one. 1 when no download runs.
  int32_t CancelTransfer();
  // Creates `path` anew and requests the first of the four sections.
  int32_t StartDownload(const char* path);
  // From StartDownload until the chain has ended (its WM_APP_DOWNLOAD_DONE
  // is posted, or the start failed): the one answer to "a download runs"
  // for the link and for the commands alike.
  bool DownloadRunning() const;
  int32_t LinkState() const { return linkState.load(); }

  // Library threads (the download chain).
  int32_t ContinueDownload(HANDLE file, int32_t section, int32_t limit);
  int32_t FinishDownload(HANDLE file);

  // Key emulator.
  int32_t ReadIdentity(int32_t* variant);
  void UpdateMonitorInterval(int32_t value);
  int32_t AcquireDevice(RemoteDevice** out);
  // Sets or (null, null) clears the key emulator and its panel window.
  void SetKeyEmulator(KeyEmulator* emulator, HWND panel);
  KeyEmulator* CurrentKeyEmulator() const { return keyEmulator.load(); }
  HWND OwnerWindow() const { return ownerWindow; }

  // RemoteEventSink, called on the library's threads.
  int32_t OnIdentity(int32_t model, int32_t detail) override;
  int32_t Reserved2() override { return 0; }
  int32_t OnLinkStateChanged() override;
  int32_t OnRequestDone(RemoteRequest* request) override;
  int32_t OnProgress(RemoteRequest* request, int32_t position, int32_t range) override;
  int32_t OnLinkLost() override;
  int32_t OnStatusFlags(uint32_t flags) override;
  int32_t Reserved8() override { return 0; }
  int32_t OnScreenChanged() override;
  int32_t Reserved10() override { return 0; }
  int32_t Reserved11() override { return 0; }
  int32_t Reserved12() override { return 0; }
  int32_t OnData(RemoteRequest* request, int32_t ignored, const uint8_t* buffer,
                 uint32_t* size) override;
  int32_t Reserved14() override { return 0; }
  int32_t Reserved15() override { return 0; }

 private:
  // The device with an added reference (null when there is none); the
  // caller releases it. Library threads use the device only this way, so
  // that Initialize on the GUI thread can replace and release it meanwhile.
  CountedRef<RemoteDevice> HeldDevice();
  // Creates, makes current and submits the transfer request of one section;
  // posts the step first when it is not 0. A failed submit leaves no
  // current request. The file stays open either way.
  int32_t SubmitSection(RemoteDevice* held, HANDLE file, int32_t section, int32_t limit,
                        WPARAM stepBeforeSubmit);
  // Clears currentRequest when it is `request` (its reference goes outside
  // the lock).
  void ForgetCurrentRequest(RemoteRequest* request);
  void ContinueChain(RemoteRequest* request);
  void EndChain(HANDLE file, int32_t code);
  // Posts `object` with a reference that the receiver releases; takes it
  // back if the message cannot be posted.
  template <class T>
  void PostWithReference(UINT message, T* object);
  // Sends to a GUI window from a library thread, bounded in time: the GUI
  // thread may itself be waiting in the library for this thread.
  static void SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Posts WM_APP_KEYEMU_NOTIFY to the key emulator's panel, if there is one.
  void NotifyKeyEmulator(WPARAM what);

  CountedRef<RemoteDevice> device;           // guarded by linkLock
  CountedRef<RemoteRequest> currentRequest;  // guarded by linkLock
  bool downloadRunning = false;              // guarded by linkLock
  bool cancelRequested = false;              // guarded by linkLock
  HWND ownerWindow;
  std::atomic<KeyEmulator*> keyEmulator{nullptr};
  std::atomic<int32_t> linkState{0};
  DeviceIdentity identity{};  // guarded by linkLock
  mutable std::mutex linkLock;
  int32_t monitorEnabled = 1;
  int32_t monitorInterval = -1;

  CreateRemoteFunction createRemote;
  std::atomic<HWND> keyEmulatorPanel{nullptr};
  std::atomic<HWND> statusBar{nullptr};
  std::atomic<HWND> downloadDialog{nullptr};
};

}  // namespace ksvw
