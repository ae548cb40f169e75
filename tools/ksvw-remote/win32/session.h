// ksvw-remote's one connection to the analyzer: the program's own link
// object (CKSRemote4q: connect, disconnect, the download chain) owned by a
// message-only window, whose messages every wait of the tool pumps until
// its condition holds, its deadline passes, Ctrl-C comes or the link goes.
//
// Threads: the main thread runs every step, the window and the waits. The
// remote library calls the link (the event sink) on threads of its own;
// the link posts each event to the window, and the few facts the tool
// reads from those threads directly are atomics. The console's Ctrl-C
// handler runs on a thread of its own and only sets an event.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/analyzer.h"
#include "remote/win32/download_file.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw::remote {

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The console's Ctrl-C sets this event; every wait ends on it.
  static void WatchInterrupt();
  static bool Interrupted();

  enum class Wait { Met, TimedOut, Interrupted, LinkLost };
  // Serves the link's messages until `met` holds or `ms` pass; ends early
  // on Ctrl-C or a lost link unless told to wait for `met` all the same.
  static constexpr unsigned kThroughInterrupt = 1, kThroughLinkLoss = 2;
  Wait PumpUntil(const std::function<bool()>& met, uint32_t ms, unsigned through = 0);

  // Creates the device with `settings`, connects and waits for the answer.
  // The library's code (kErrTimeout when no answer came in time).
  int32_t Connect(const ConnectionSettings& settings, uint32_t ms);
  // Disconnects (if connected) and lets everything go, within bounded time.
  void Close();

  // Asks the analyzer to report its screen from now on.
  void MonitorScreen();
  // Presses one key (its panel value) and waits for the completion: the
  // request's code, or kErrTimeout after `ms`.
  Wait PressKey(uint32_t value, uint32_t ms, int32_t& code);
  // The analyzer's last reported screen (kScreenBytes); false until one came.
  bool CopyScreen(uint8_t* screen);
  uint32_t ScreenReports() const { return screenReports_; }
  // Milliseconds since the last screen report.
  uint32_t ScreenQuietMs() const { return GetTickCount() - lastScreenTick_; }
  uint32_t StatusFlags();
  int32_t Model();
  bool LinkLost() const { return linkLost_; }

  // The download chain into `file`; progress goes to `progress` (position,
  // range, part 1 to 4) while it runs.
  using Progress = std::function<void(int64_t, int64_t, int)>;
  int32_t StartDownload(const DownloadFile& file);
  bool DownloadEnded() const { return downloadEnded_; }
  int32_t DownloadCode() const { return downloadCode_; }
  void CancelDownload();
  void SetProgress(Progress progress) { progress_ = std::move(progress); }
  // Whether the download failed on its file (a write or the finishing
  // header) rather than on the link.
  bool DownloadFileFailed() const;

 private:
  class Link;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnRequestDone(RemoteRequest* request);
  bool Connected() const { return connected_ && !linkLost_; }

  HWND window_ = nullptr;
  std::unique_ptr<Link> link_;
  bool connected_ = false;
  bool connectEnded_ = false;
  int32_t connectCode_ = 0;
  bool disconnectEnded_ = false;
  RemoteRequest* pendingKey_ = nullptr;  // compared only, held by PressKey
  bool keyEnded_ = false;
  int32_t keyCode_ = 0;
  bool downloadEnded_ = false;
  int32_t downloadCode_ = 0;
  int downloadPart_ = 0;
  Progress progress_;
  bool linkLost_ = false;
  uint32_t screenReports_ = 0;
  DWORD lastScreenTick_ = 0;
};

}  // namespace ksvw::remote
