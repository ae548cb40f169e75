// A small UI-automation helper for driving the real program from another
// process, the way a user would: start ksvw4q.exe in a scratch folder of
// its own, find its windows and controls, press commands, read what the
// common controls show, and answer its message boxes and file dialogs.
//
// Everything here works across processes. Messages whose parameters point
// at memory (SB_GETTEXT, LVM_GETITEMTEXT, LVM_GETCOLUMN) get a buffer
// allocated inside the program (VirtualAllocEx) and copied back with
// ReadProcessMemory: neither Windows nor Wine marshals the pointers of
// common-control messages (they are above WM_USER), only those of the
// standard window messages such as WM_GETTEXT and WM_SETTEXT.
//
// Messages without pointers need no such buffer and are sent as they are:
// SB_GETTEXTLENGTH, LVM_GETITEMCOUNT, LVM_GETCOLUMNWIDTH, TB_GETSTATE.
//
// Every wait is bounded, and every message sent to the program goes
// through SendMessageTimeout: a hung program makes a test fail, never hang.
//
// What Wine (8.0, on a virtual X display without a window manager) does
// differently from Windows, as met here:
// - Menus live in the memory of the process that made them: GetMenuState
//   and GetMenuItemCount on another process's menu return -1. The menu
//   readers below run them inside the program (see Menus).
// - SetCursorPos from this windowless process leaves the pointer where it
//   was; ClickAt moves it with SendInput instead.
// - The Open and Save dialogs are the Explorer-style #32770 ones; their
//   file-name field is the combo box 0x47C, and the edit inside it carries
//   the id 0x47C too (a combo box edit is usually 1001), so a search by id
//   alone finds the combo first: the helper takes the combo's Edit child.
// - Hiding a "managed" top-level window (every message box and dialog that
//   is answered) makes the X11 driver wait up to two seconds for a window
//   manager that is not there. The driver script of the tests tells Wine to
//   leave the program's windows unmanaged for the run (see run_gui_tests.sh).
// - Each file dialog prints "Read access denied for device Z:" on the
//   program's standard error while it looks for the volume label of the
//   drive that maps the root folder: noise, not a failure.
// - Job objects work: a program in a job with JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE
//   ends when the test process dies, even when it is killed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"

namespace ksvw::uiauto {

// The default bound of every wait.
inline constexpr DWORD kWaitMs = 30000;
// The bound of one message sent to the program.
inline constexpr DWORD kSendMs = 5000;

// --- Paths and files ----------------------------------------------------------

// A path of this machine as Wine sees it: "/a/b" -> "Z:\a\b". A path that
// already has a drive letter is returned as it is.
std::string WinPath(const std::string& path);
// An environment variable, "" when unset.
std::string Env(const char* name);
// JoinPath and ReadWholeFile come from common/files.h.
bool WriteWholeFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// Lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::string& path);
// Removes a folder and everything below it (best effort).
void RemoveTree(const std::string& folder);

// A string of a resource library loaded as data ("" when missing).
std::string LoadLibraryString(const std::string& library, UINT id);

// --- Waiting ----------------------------------------------------------------

// Polls `done` every few milliseconds until it is true or `ms` have passed.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = kWaitMs);

// --- Windows of a process ------------------------------------------------------

std::string ClassName(HWND window);
// The window's text through WM_GETTEXT (marshalled across processes).
std::string WindowText(HWND window);
// Visible top-level windows of process `pid`, optionally of class `cls`
// and with the title `title` (nullptr: any).
std::vector<HWND> TopLevelWindows(DWORD pid, const char* cls = nullptr,
                                  const char* title = nullptr);
// Visible top-level windows of class `cls` of any process.
std::vector<HWND> TopLevelWindowsOfClass(const char* cls);
// The first such window that shows up within `ms`, or nullptr.
HWND WaitForWindow(DWORD pid, const char* cls, const char* title = nullptr, DWORD ms = kWaitMs);
// Waits until no visible window of `pid` with this class and title is left.
bool WaitForWindowGone(DWORD pid, const char* cls, const char* title = nullptr, DWORD ms = kWaitMs);
// The descendant of `parent` with control id `id` (the low 16 bits are
// compared, so 0xFFFF matches a static whose id came out as -1).
HWND FindControl(HWND parent, int id);
// A descendant of `parent` of class `cls` (nullptr when none).
HWND FindChildOfClass(HWND parent, const char* cls);

// --- Sending to the program ----------------------------------------------------

// SendMessageTimeout; false when the program did not answer in time.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr);
// Posts WM_COMMAND with command `id`, as a menu item would send it.
bool PostCommand(HWND window, UINT id);
// Presses a dialog button: WM_COMMAND (id, BN_CLICKED) from that button.
bool PressButton(HWND dialog, int id);
// Sets the text of a control (WM_SETTEXT: the text is marshalled).
bool SetText(HWND window, const std::string& text);

// Presses `key` with the modifiers held (VK_SHIFT, VK_CONTROL...) through
// SendInput, after bringing `window` to the foreground: keyboard input goes
// through the program's accelerator table like a user's keystrokes.
bool PressKeys(HWND window, const std::vector<WORD>& modifiers, WORD key);
// Keys going down and up in the order given, likewise (a key that goes down
// twice without going up is the keyboard's auto-repeat).
struct KeyStroke {
  WORD key;
  bool up;
};
bool SendKeys(HWND window, const std::vector<KeyStroke>& strokes);

// Clicks the left mouse button at `point` in the client area of `window`
// (SendInput, which moves the pointer there first), after bringing its top-level window to the
// foreground.
bool ClickAt(HWND window, POINT point);

// --- Memory inside another process -------------------------------------------

// A block of memory inside another process, for the messages whose
// parameters are pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, size_t size);
  ~RemoteBuffer();
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return address_ != nullptr; }
  // Address inside the other process, `offset` bytes into the block.
  LPARAM At(size_t offset = 0) const;
  bool Write(size_t offset, const void* data, size_t size);
  bool Read(size_t offset, void* data, size_t size) const;

 private:
  HANDLE process_;
  void* address_ = nullptr;
  size_t size_;
};

// --- Reading the common controls --------------------------------------------

// Readers of one program's controls; `process` needs PROCESS_VM_OPERATION,
// PROCESS_VM_READ and PROCESS_VM_WRITE access.
class ControlReader {
 public:
  explicit ControlReader(HANDLE process);

  // Status bar part `part` (SB_GETTEXTLENGTH, then SB_GETTEXT into the
  // program's memory). "<no answer>" when the program did not answer.
  std::string StatusText(HWND statusBar, int part);
  // List view: item count, cell text, column title and width.
  int ListItemCount(HWND list);
  std::string ListCell(HWND list, int row, int column);
  // One row, `columns` cells.
  std::vector<std::string> ListRow(HWND list, int row, int columns);
  // The row's bounds in the list's client area (LVM_GETITEMRECT).
  bool ListItemRect(HWND list, int row, RECT* rect);
  std::string ColumnTitle(HWND list, int column);
  int ColumnWidth(HWND list, int column);
  // Width of `text` in the list's font (LVM_GETSTRINGWIDTHA); -1 on failure.
  int ListStringWidth(HWND list, const std::string& text);
  // TB_GETSTATE of a toolbar button (-1 when there is no such button).
  int ToolbarState(HWND toolbar, UINT id);

 private:
  HANDLE process_;
  RemoteBuffer buffer_;
};

// --- Menus ------------------------------------------------------------------
//
// Wine keeps a menu in the memory of the process that made it: GetMenuState
// and GetMenuItemCount on another process's menu fail there (they return
// -1), although they work on Windows. So the helper runs them inside the
// program, on a thread of its own (CreateRemoteThread on a few bytes of
// code that call the function with its arguments); menus belong to the
// process, not to a thread, so any thread of the program may read them.

// Address of `function` of `module` inside `process` (0 when not found):
// our own address, moved by the difference of the module's two bases.
uintptr_t RemoteProcAddress(HANDLE process, const char* module, const char* function);
// Calls `function` (an address in `process`) with up to four integer
// arguments on a new thread of `process`; its 32-bit result in `result`.
// The process handle needs PROCESS_CREATE_THREAD and the VM rights.
bool CallInProcess(HANDLE process, uintptr_t function, const uint64_t (&args)[4], DWORD* result,
                   DWORD ms = kSendMs);

// The state of the menu item of command `id` in the menu bar of `window`,
// a window of `process` (GetMenuState flags; 0xFFFFFFFF when the item or
// the menu does not exist or could not be read).
UINT MenuItemState(HANDLE process, HWND window, UINT id);
// Items in the menu bar of `window` (-1 when it has none or it could not be
// read).
int MenuBarItemCount(HANDLE process, HWND window);

// --- Message boxes and common dialogs ------------------------------------------

struct MessageBoxInfo {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};

// A message box of `pid` (a "#32770" dialog with the static text 0xFFFF)
// that shows up within `ms`; window is nullptr when none did.
MessageBoxInfo WaitForMessageBox(DWORD pid, DWORD ms = kWaitMs);
// Every message box of `pid` open now.
std::vector<MessageBoxInfo> MessageBoxes(DWORD pid);
// Presses `button` (IDOK, IDYES, IDNO...) and waits until the box closes.
bool AnswerMessageBox(const MessageBoxInfo& box, int button, DWORD ms = kWaitMs);

// Waits for the Open or Save dialog of `pid` (a "#32770" dialog with the
// file-name field), types `path` into its file-name field, presses OK and
// waits until it closes. False, with `why` set, when any step failed.
bool AnswerFileDialog(DWORD pid, const std::string& path, std::string* why = nullptr,
                      DWORD ms = kWaitMs);

// --- The program -------------------------------------------------------------

// One run of the program in a scratch folder of its own. The folder holds
// copies of the executable and its libraries and the SETTING.ini given; the
// process runs in a job object that kills it when the job is closed, so no
// run outlives its test, even one that crashes.
class Program {
 public:
  struct Files {
    std::string appFolder;        // where ksvw4q.exe and the DLLs are built
    bool languageLibrary = true;  // copy ksvw4q1033.dll too
    std::string settings;         // SETTING.ini's text ("" = no file)
  };

  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Makes `folder` (removing an older one) and copies the files into it.
  bool Prepare(const std::string& folder, const Files& files, std::string* why = nullptr);
  // Starts the program in the folder (its current directory too).
  bool Start(std::string* why = nullptr);
  // Starts one more instance from the same folder (in the same job); its
  // process handle (the caller closes it), or nullptr.
  HANDLE StartAnother(std::string* why = nullptr) const;
  // Waits for the main window (class "ksvw4") and its children.
  bool WaitForMainWindow(DWORD ms = kWaitMs);

  bool Running() const;
  // Waits for the process to end; its exit code in `code`.
  bool WaitForExit(DWORD ms, DWORD* code = nullptr);
  // Ends the process if it still runs (only this run's own process).
  void Kill();

  const std::string& Folder() const { return folder_; }
  std::string PathInFolder(const std::string& name) const { return JoinPath(folder_, name); }
  DWORD Pid() const { return pid_; }
  HANDLE Process() const { return process_; }
  HWND MainWindow() const { return main_; }
  HWND Toolbar() const { return toolbar_; }
  HWND StatusBar() const { return statusBar_; }
  HWND List() const { return list_; }
  ControlReader& Reader() { return *reader_; }

  // Shortcuts over the main window's controls.
  std::string Status(int part) { return reader_->StatusText(statusBar_, part); }
  int ButtonState(UINT id) { return reader_->ToolbarState(toolbar_, id); }
  UINT MenuState(UINT id) const { return MenuItemState(process_, main_, id); }
  int MenuItems() const { return MenuBarItemCount(process_, main_); }
  bool Command(UINT id) const { return PostCommand(main_, id); }

 private:
  std::string folder_;
  HANDLE job_ = nullptr;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
  HWND toolbar_ = nullptr;
  HWND statusBar_ = nullptr;
  HWND list_ = nullptr;
  std::unique_ptr<ControlReader> reader_;
};

// --- Pictures and focus ---------------------------------------------------------

// Saves what the screen shows of `window` (its whole window rectangle) as
// a 24-bit PNG file. The window must be on top: the pixels are copied from
// the screen, which under Xvfb without a window manager is what was drawn.
bool SaveWindowPng(HWND window, const std::string& path);

// The window with the keyboard focus in the GUI thread that owns `window`
// (GetGUIThreadInfo works across processes), or nullptr.
HWND FocusOfThreadOf(HWND window);

}  // namespace ksvw::uiauto
