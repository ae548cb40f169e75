#include "tools/uiauto/uiauto.h"

#include "common/crc32.h"

// After windows.h, whose types it uses.
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace ksvw::uiauto {

namespace {

constexpr DWORD kPollMs = 20;
constexpr char kMainWindowClass[] = "ksvw4";
constexpr char kDialogClass[] = "#32770";
// Message boxes give their text static this id.
constexpr int kMessageBoxTextId = 0xFFFF;
// The file-name field of the common file dialogs: the combo box cmb13 of
// the Explorer-style dialog, or the edit edt1 of older layouts.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;
constexpr size_t kTextCapacity = 1024;

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

std::string LastErrorText(const char* what) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s failed (error %lu)", what, GetLastError());
  return buf;
}

struct EnumTop {
  DWORD pid;
  const char* cls;
  const char* title;
  std::vector<HWND>* found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* e = reinterpret_cast<EnumTop*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  if (e->pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != e->pid) return TRUE;
  }
  if (e->cls && ClassName(window) != e->cls) return TRUE;
  if (e->title && WindowText(window) != e->title) return TRUE;
  e->found->push_back(window);
  return TRUE;
}

struct EnumChild {
  int id;
  const char* cls;
  HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM param) {
  auto* e = reinterpret_cast<EnumChild*>(param);
  if (e->cls) {
    if (ClassName(window) != e->cls) return TRUE;
  } else if ((GetDlgCtrlID(window) & 0xFFFF) != (e->id & 0xFFFF)) {
    return TRUE;
  }
  e->found = window;
  return FALSE;
}

bool IsMessageBox(HWND dialog) {
  return FindControl(dialog, kMessageBoxTextId) != nullptr;
}

}  // namespace

// --- Paths and files ----------------------------------------------------------

std::string WinPath(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string Env(const char* name) {
  char buf[2048];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::vector<std::string> lines;
  if (!ReadWholeFile(path, bytes)) return lines;
  std::string line;
  for (uint8_t b : bytes) {
    if (b == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(b));
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = JoinPath(folder, name);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

std::string LoadLibraryString(const std::string& library, UINT id) {
  HMODULE module = LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  char text[kTextCapacity] = {};
  int n = LoadStringA(module, id, text, sizeof text);
  FreeLibrary(module);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

// --- Waiting ----------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

// --- Windows of a process ------------------------------------------------------

std::string ClassName(HWND window) {
  char name[256] = {};
  int n = GetClassNameA(window, name, sizeof name);
  return n > 0 ? std::string(name, static_cast<size_t>(n)) : std::string();
}

std::string WindowText(HWND window) {
  char text[kTextCapacity] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, kSendMs, &copied))
    return "<no answer>";
  return std::string(text, std::min<size_t>(copied, sizeof text - 1));
}

std::vector<HWND> TopLevelWindows(DWORD pid, const char* cls, const char* title) {
  std::vector<HWND> found;
  EnumTop e{pid, cls, title, &found};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&e));
  return found;
}

std::vector<HWND> TopLevelWindowsOfClass(const char* cls) {
  return TopLevelWindows(0, cls, nullptr);
}

HWND WaitForWindow(DWORD pid, const char* cls, const char* title, DWORD ms) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        std::vector<HWND> windows = TopLevelWindows(pid, cls, title);
        found = windows.empty() ? nullptr : windows.front();
        return found != nullptr;
      },
      ms);
  return found;
}

bool WaitForWindowGone(DWORD pid, const char* cls, const char* title, DWORD ms) {
  return WaitUntil([&] { return TopLevelWindows(pid, cls, title).empty(); }, ms);
}

HWND FindControl(HWND parent, int id) {
  EnumChild e{id, nullptr, nullptr};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&e));
  return e.found;
}

HWND FindChildOfClass(HWND parent, const char* cls) {
  EnumChild e{0, cls, nullptr};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&e));
  return e.found;
}

// --- Sending to the program ----------------------------------------------------

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendMs, &answer))
    return false;
  if (result) *result = static_cast<LRESULT>(answer);
  return true;
}

bool PostCommand(HWND window, UINT id) {
  return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != 0;
}

bool PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)) != 0;
}

bool SetText(HWND window, const std::string& text) {
  LRESULT result = 0;
  return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) &&
         result != 0;
}

bool SendKeys(HWND window, const std::vector<KeyStroke>& strokes) {
  SetForegroundWindow(window);
  if (!WaitUntil([&] { return GetForegroundWindow() == window; }, 5000)) return false;
  std::vector<INPUT> inputs;
  for (const KeyStroke& stroke : strokes) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = stroke.key;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(stroke.key, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = stroke.up ? KEYEVENTF_KEYUP : 0;
    // Wine's server tells the right Shift key from the left by the extended
    // flag (Windows by the key code given).
    if (stroke.key == VK_RSHIFT) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    inputs.push_back(in);
  }
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool PressKeys(HWND window, const std::vector<WORD>& modifiers, WORD key) {
  std::vector<KeyStroke> strokes;
  for (WORD m : modifiers) strokes.push_back({m, false});
  strokes.push_back({key, false});
  strokes.push_back({key, true});
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) strokes.push_back({*it, true});
  return SendKeys(window, strokes);
}

bool ClickAt(HWND window, POINT point) {
  HWND top = GetAncestor(window, GA_ROOT);
  SetForegroundWindow(top);
  if (!WaitUntil([&] { return GetForegroundWindow() == top; }, 5000)) return false;
  if (!ClientToScreen(window, &point)) return false;
  // The pointer moves with the click itself, in absolute coordinates
  // (0 to 65535 across the primary screen). SetCursorPos does not do under
  // Wine: called from this windowless process it left the pointer where it
  // was (GetCursorPos still gave the old place), and the click landed there.
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width < 2 || height < 2) return false;
  LONG x = static_cast<LONG>((point.x * 65535LL + (width - 1) / 2) / (width - 1));
  LONG y = static_cast<LONG>((point.y * 65535LL + (height - 1) / 2) / (height - 1));
  INPUT inputs[3] = {};
  const DWORD flags[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (int i = 0; i < 3; ++i) {
    inputs[i].type = INPUT_MOUSE;
    inputs[i].mi.dx = x;
    inputs[i].mi.dy = y;
    inputs[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  }
  return SendInput(3, inputs, sizeof(INPUT)) == 3;
}

// --- Memory inside another process -------------------------------------------

RemoteBuffer::RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
  if (process_)
    address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
  // The program may have ended already; its memory went with it.
  if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

LPARAM RemoteBuffer::At(size_t offset) const {
  return reinterpret_cast<LPARAM>(static_cast<char*>(address_) + offset);
}

bool RemoteBuffer::Write(size_t offset, const void* data, size_t size) {
  if (!address_ || offset > size_ || size > size_ - offset) return false;
  SIZE_T done = 0;
  return WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) &&
         done == size;
}

bool RemoteBuffer::Read(size_t offset, void* data, size_t size) const {
  if (!address_ || offset > size_ || size > size_ - offset) return false;
  SIZE_T done = 0;
  return ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) &&
         done == size;
}

// --- Reading the common controls --------------------------------------------

namespace {
// Layout of the remote block: a structure at 0, its text behind it.
constexpr size_t kStructArea = 256;
constexpr size_t kRemoteSize = kStructArea + kTextCapacity;
static_assert(sizeof(LVITEMA) <= kStructArea && sizeof(LVCOLUMNA) <= kStructArea);

std::string ReadRemoteText(const RemoteBuffer& buffer, size_t offset, size_t capacity) {
  std::string text(capacity, '\0');
  if (!buffer.Read(offset, text.data(), capacity)) return "<unreadable>";
  text.resize(std::strlen(text.c_str()));
  return text;
}
}  // namespace

ControlReader::ControlReader(HANDLE process) : process_(process), buffer_(process, kRemoteSize) {}

std::string ControlReader::StatusText(HWND statusBar, int part) {
  LRESULT length = 0;
  if (!Send(statusBar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0, &length))
    return "<no answer>";
  size_t n = LOWORD(length);
  if (n + 1 > kTextCapacity) return "<too long>";
  const char zero[1] = {0};
  buffer_.Write(kStructArea, zero, 1);
  if (!Send(statusBar, SB_GETTEXTA, static_cast<WPARAM>(part), buffer_.At(kStructArea)))
    return "<no answer>";
  return ReadRemoteText(buffer_, kStructArea, n + 1);
}

int ControlReader::ListItemCount(HWND list) {
  LRESULT count = -1;
  if (!Send(list, LVM_GETITEMCOUNT, 0, 0, &count)) return -1;
  return static_cast<int>(count);
}

std::string ControlReader::ListCell(HWND list, int row, int column) {
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<char*>(buffer_.At(kStructArea));
  item.cchTextMax = static_cast<int>(kTextCapacity);
  const char mark[] = "<unset>";
  if (!buffer_.Write(0, &item, sizeof item) || !buffer_.Write(kStructArea, mark, sizeof mark))
    return "<unwritable>";
  if (!Send(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), buffer_.At(0))) return "<no answer>";
  return ReadRemoteText(buffer_, kStructArea, kTextCapacity);
}

std::vector<std::string> ControlReader::ListRow(HWND list, int row, int columns) {
  std::vector<std::string> cells;
  cells.reserve(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) cells.push_back(ListCell(list, row, c));
  return cells;
}

bool ControlReader::ListItemRect(HWND list, int row, RECT* rect) {
  RECT r{};
  r.left = LVIR_BOUNDS;
  LRESULT ok = 0;
  return buffer_.Write(0, &r, sizeof r) &&
         Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), buffer_.At(0), &ok) && ok &&
         buffer_.Read(0, rect, sizeof *rect);
}

std::string ControlReader::ColumnTitle(HWND list, int column) {
  LVCOLUMNA c{};
  c.mask = LVCF_TEXT;
  c.pszText = reinterpret_cast<char*>(buffer_.At(kStructArea));
  c.cchTextMax = static_cast<int>(kTextCapacity);
  const char zero[1] = {0};
  if (!buffer_.Write(0, &c, sizeof c) || !buffer_.Write(kStructArea, zero, 1))
    return "<unwritable>";
  LRESULT ok = 0;
  if (!Send(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), buffer_.At(0), &ok))
    return "<no answer>";
  if (!ok) return "<no column>";
  return ReadRemoteText(buffer_, kStructArea, kTextCapacity);
}

int ControlReader::ColumnWidth(HWND list, int column) {
  LRESULT width = -1;
  if (!Send(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0, &width)) return -1;
  return static_cast<int>(width);
}

int ControlReader::ListStringWidth(HWND list, const std::string& text) {
  if (text.size() >= kTextCapacity || !buffer_.Write(kStructArea, text.c_str(), text.size() + 1))
    return -1;
  LRESULT width = -1;
  if (!Send(list, LVM_GETSTRINGWIDTHA, 0, buffer_.At(kStructArea), &width)) return -1;
  return static_cast<int>(width);
}

int ControlReader::ToolbarState(HWND toolbar, UINT id) {
  LRESULT state = -1;
  if (!Send(toolbar, TB_GETSTATE, id, 0, &state)) return -1;
  return static_cast<int>(state);
}

// --- Menus ------------------------------------------------------------------

uintptr_t RemoteProcAddress(HANDLE process, const char* module, const char* function) {
  HMODULE local = GetModuleHandleA(module);
  if (!local) local = LoadLibraryA(module);
  FARPROC proc = local ? GetProcAddress(local, function) : nullptr;
  if (!proc) return 0;
  HMODULE modules[512];
  DWORD needed = 0;
  if (!EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL)) return 0;
  size_t count = std::min<size_t>(needed / sizeof(HMODULE), std::size(modules));
  for (size_t i = 0; i < count; ++i) {
    char name[MAX_PATH] = {};
    if (!GetModuleBaseNameA(process, modules[i], name, sizeof name)) continue;
    if (lstrcmpiA(name, module) != 0) continue;
    return reinterpret_cast<uintptr_t>(modules[i]) +
           (reinterpret_cast<uintptr_t>(proc) - reinterpret_cast<uintptr_t>(local));
  }
  return 0;
}

bool CallInProcess(HANDLE process, uintptr_t function, const uint64_t (&args)[4], DWORD* result,
                   DWORD ms) {
  if (!function) return false;
  // x86-64: sub rsp,40 (shadow space, 16-byte alignment at the call);
  // mov rcx/rdx/r8/r9 with the arguments; mov rax, function; call rax;
  // add rsp,40; ret. The thread's exit code is the result's low 32 bits.
  uint8_t code[64];
  size_t n = 0;
  auto bytes = [&](std::initializer_list<uint8_t> b) {
    for (uint8_t x : b) code[n++] = x;
  };
  auto imm64 = [&](uint64_t v) {
    std::memcpy(code + n, &v, 8);
    n += 8;
  };
  bytes({0x48, 0x83, 0xEC, 0x28});
  bytes({0x48, 0xB9});
  imm64(args[0]);
  bytes({0x48, 0xBA});
  imm64(args[1]);
  bytes({0x49, 0xB8});
  imm64(args[2]);
  bytes({0x49, 0xB9});
  imm64(args[3]);
  bytes({0x48, 0xB8});
  imm64(function);
  bytes({0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x28, 0xC3});

  void* remote = VirtualAllocEx(process, nullptr, sizeof code, MEM_COMMIT | MEM_RESERVE,
                                PAGE_EXECUTE_READWRITE);
  if (!remote) return false;
  SIZE_T written = 0;
  bool ok = WriteProcessMemory(process, remote, code, n, &written) && written == n;
  if (ok) FlushInstructionCache(process, remote, n);
  HANDLE thread =
      ok ? CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(remote),
                              nullptr, 0, nullptr)
         : nullptr;
  ok = thread != nullptr;
  DWORD exitCode = 0;
  if (ok) {
    ok = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
  }
  // A thread that did not end in time still runs the code: leave it.
  if (ok) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  if (ok && result) *result = exitCode;
  return ok;
}

UINT MenuItemState(HANDLE process, HWND window, UINT id) {
  HMENU menu = GetMenu(window);
  if (!menu) return 0xFFFFFFFFu;
  uintptr_t function = RemoteProcAddress(process, "user32.dll", "GetMenuState");
  const uint64_t args[4] = {reinterpret_cast<uint64_t>(menu), id, MF_BYCOMMAND, 0};
  DWORD state = 0xFFFFFFFFu;
  if (!CallInProcess(process, function, args, &state)) return 0xFFFFFFFFu;
  return state;
}

int MenuBarItemCount(HANDLE process, HWND window) {
  HMENU menu = GetMenu(window);
  if (!menu) return -1;
  uintptr_t function = RemoteProcAddress(process, "user32.dll", "GetMenuItemCount");
  const uint64_t args[4] = {reinterpret_cast<uint64_t>(menu), 0, 0, 0};
  DWORD count = 0xFFFFFFFFu;
  if (!CallInProcess(process, function, args, &count)) return -1;
  return static_cast<int>(count);
}

// --- Message boxes and common dialogs ------------------------------------------

std::vector<MessageBoxInfo> MessageBoxes(DWORD pid) {
  std::vector<MessageBoxInfo> boxes;
  for (HWND dialog : TopLevelWindows(pid, kDialogClass)) {
    HWND text = FindControl(dialog, kMessageBoxTextId);
    if (!text) continue;
    boxes.push_back({dialog, WindowText(dialog), WindowText(text)});
  }
  return boxes;
}

MessageBoxInfo WaitForMessageBox(DWORD pid, DWORD ms) {
  MessageBoxInfo box;
  WaitUntil(
      [&] {
        std::vector<MessageBoxInfo> boxes = MessageBoxes(pid);
        if (boxes.empty()) return false;
        box = boxes.front();
        return true;
      },
      ms);
  return box;
}

bool AnswerMessageBox(const MessageBoxInfo& box, int button, DWORD ms) {
  if (!box.window || !GetDlgItem(box.window, button)) return false;
  if (!PressButton(box.window, button)) return false;
  return WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, ms);
}

bool AnswerFileDialog(DWORD pid, const std::string& path, std::string* why, DWORD ms) {
  HWND dialog = nullptr, field = nullptr;
  WaitUntil(
      [&] {
        for (HWND d : TopLevelWindows(pid, kDialogClass)) {
          if (IsMessageBox(d)) continue;
          HWND combo = FindControl(d, kFileNameCombo);
          HWND edit = combo ? FindChildOfClass(combo, "Edit") : nullptr;
          if (!edit && combo && ClassName(combo) == "Edit") edit = combo;
          if (!edit) edit = FindControl(d, kFileNameEdit);
          if (edit && IsWindowVisible(edit)) {
            dialog = d;
            field = edit;
            return true;
          }
        }
        return false;
      },
      ms);
  if (!dialog) {
    SetWhy(why, "no file dialog appeared");
    return false;
  }
  if (!SetText(field, path)) {
    SetWhy(why, "the file name could not be typed");
    return false;
  }
  if (!PressButton(dialog, IDOK)) {
    SetWhy(why, LastErrorText("pressing OK"));
    return false;
  }
  if (!WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, ms)) {
    SetWhy(why, "the file dialog stayed open (\"" + WindowText(dialog) + "\")");
    return false;
  }
  return true;
}

// --- The program -------------------------------------------------------------

Program::~Program() {
  Kill();
  reader_.reset();
  if (process_) CloseHandle(process_);
  if (job_) CloseHandle(job_);
}

bool Program::Prepare(const std::string& folder, const Files& files, std::string* why) {
  folder_ = folder;
  RemoveTree(folder_);
  if (!CreateDirectoryA(folder_.c_str(), nullptr)) {
    SetWhy(why, LastErrorText(("creating " + folder_).c_str()));
    return false;
  }
  std::vector<std::string> names = {"ksvw4q.exe", "ksvwrmt.dll"};
  if (files.languageLibrary) names.push_back("ksvw4q1033.dll");
  for (const std::string& name : names) {
    std::string from = JoinPath(files.appFolder, name);
    if (!CopyFileA(from.c_str(), PathInFolder(name).c_str(), FALSE)) {
      SetWhy(why, LastErrorText(("copying " + from).c_str()));
      return false;
    }
  }
  if (!files.settings.empty() && !WriteWholeFile(PathInFolder("SETTING.ini"), files.settings)) {
    SetWhy(why, LastErrorText("writing SETTING.ini"));
    return false;
  }
  return true;
}

bool Program::Start(std::string* why) {
  // A job that ends the program when the test's handle to it closes, also
  // when the test process itself dies.
  if (!job_) {
    job_ = CreateJobObjectA(nullptr, nullptr);
    if (job_) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
  }
  process_ = StartAnother(why);
  if (!process_) return false;
  pid_ = GetProcessId(process_);
  reader_ = std::make_unique<ControlReader>(process_);
  return true;
}

HANDLE Program::StartAnother(std::string* why) const {
  std::string exe = PathInFolder("ksvw4q.exe");
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, folder_.c_str(), &startup, &info)) {
    SetWhy(why, LastErrorText(("starting " + exe).c_str()));
    return nullptr;
  }
  // In the job before it runs: it cannot outlive the test.
  if (job_) AssignProcessToJobObject(job_, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return info.hProcess;
}

bool Program::WaitForMainWindow(DWORD ms) {
  main_ = WaitForWindow(pid_, kMainWindowClass, nullptr, ms);
  if (!main_) return false;
  // The children exist once WM_CREATE has returned, which is before the
  // window became visible; look them up all the same with a bound.
  WaitUntil(
      [&] {
        toolbar_ = FindChildOfClass(main_, TOOLBARCLASSNAMEA);
        statusBar_ = FindChildOfClass(main_, STATUSCLASSNAMEA);
        list_ = FindChildOfClass(main_, WC_LISTVIEWA);
        return toolbar_ && statusBar_ && list_;
      },
      ms);
  return toolbar_ && statusBar_ && list_;
}

bool Program::Running() const {
  return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Program::WaitForExit(DWORD ms, DWORD* code) {
  if (!process_) return true;
  if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
  DWORD exitCode = 0;
  GetExitCodeProcess(process_, &exitCode);
  if (code) *code = exitCode;
  return true;
}

void Program::Kill() {
  if (!Running()) return;
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, kWaitMs);
}

// --- Pictures and focus ---------------------------------------------------------

namespace {

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
  PutBig32(out, static_cast<uint32_t>(body.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBig32(out, ksvw::Crc32(typed.data(), typed.size()));
}

// A PNG of 8-bit RGB rows; the image data is a zlib stream of stored
// (uncompressed) blocks, which every reader accepts.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgbRows) {
  std::vector<uint8_t> raw;
  size_t stride = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), rgbRows.begin() + y * stride, rgbRows.begin() + (y + 1) * stride);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0;) {
    size_t n = std::min<size_t>(65535, raw.size() - at);
    bool last = at + n >= raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
    if (last) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(z, b << 16 | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBig32(header, static_cast<uint32_t>(width));
  PutBig32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace

bool SaveWindowPng(HWND window, const std::string& path) {
  RECT r;
  if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  std::vector<uint8_t> rgb;
  if (ok) {
    const uint8_t* bgrx = static_cast<const uint8_t*>(bits);
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
      rgb.insert(rgb.end(), {bgrx[i * 4 + 2], bgrx[i * 4 + 1], bgrx[i * 4]});
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  std::vector<uint8_t> png = EncodePng(width, height, rgb);
  return WriteWholeFile(path, std::string(png.begin(), png.end()));
}

HWND FocusOfThreadOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

}  // namespace ksvw::uiauto
