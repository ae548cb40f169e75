// Saving the LCD image as a BMP file and copying it to the clipboard, in
// the image mode the toolbar chose (keyemu/screen_image.h builds it).
#include <windows.h>
// After windows.h, whose types they use.
#include <shlobj.h>
#include <shlwapi.h>

#include <new>

#include "app/win32/app_state.h"
#include "keyemu/screen_image.h"
#include "keyemu/win32/objects.h"
#include "remote/ksvwrmt.h"
#include "settings/win32/settings_store.h"

namespace ksvw {

using namespace keyemu;

namespace {

struct Buffer {
  explicit Buffer(uint32_t size) : bytes(new (std::nothrow) uint8_t[size]), size(size) {}
  ~Buffer() { delete[] bytes; }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  uint8_t* bytes;
  uint32_t size;
};

// EMU/PATH, read afresh. An empty PATH means the executable's folder: the
// current directory moves with every file dialog.
void ImageFolder(char* folder) {
  GetPrivateProfileStringA("EMU", "PATH", "", folder, MAX_PATH, SettingsFilePath);
  if (!folder[0]) lstrcpynA(folder, executableFolder, MAX_PATH);
}

bool WriteAll(HANDLE file, const uint8_t* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// A new file for the image: "KSyyyymmddhhmmss.bmp", or with "-2", "-3"...
// when that second has images already (created new, never replacing one).
// `path` holds the last name tried.
HANDLE CreateImageFile(char* path) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const ImageTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  char folder[MAX_PATH];
  ImageFolder(folder);
  for (int n = 1; n <= kImagesPerSecond; ++n) {
    lstrcpynA(path, folder, MAX_PATH);
    if (!PathAppendA(path, ScreenImageFileName(time, n).c_str())) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

// The image is built before the file is created, and a write that fails
// removes the partial file: a failed save leaves nothing behind.
int32_t KeyEmulator::SaveScreenImage(char* path) {
  path[0] = '\0';
  if (!lcd) return kErrPointer;
  const uint32_t flags = ImageFlagsForMode(imageMode);
  Buffer image(ScreenImageBuilder(lcd->Display(), flags, nullptr, 0));
  if (!image.bytes) return kErrOutOfMemory;
  const uint32_t offset = ScreenImageBuilder(lcd->Display(), flags, image.bytes, image.size);
  uint8_t header[kBmpFileHeaderBytes];
  WriteBmpFileHeader(header, image.size, offset);

  HANDLE file = CreateImageFile(path);
  if (file == INVALID_HANDLE_VALUE) return LastErrorResult();
  if (!WriteAll(file, header, sizeof header) || !WriteAll(file, image.bytes, image.size)) {
    int32_t result = LastErrorResult();
    CloseHandle(file);
    DeleteFileA(path);
    return result;
  }
  CloseHandle(file);
  SHChangeNotify(SHCNE_CREATE, SHCNF_PATHA, path, nullptr);
  return 0;
}

// Once SetClipboardData has taken the block it belongs to the clipboard
// and is never freed here.
int32_t KeyEmulator::CopyScreenImage() {
  if (!panel || !lcd) return kErrPointer;
  const uint32_t flags = ImageFlagsForMode(imageMode);
  const uint32_t size = ScreenImageBuilder(lcd->Display(), flags, nullptr, 0);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return LastErrorResult();
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  if (!bytes) {
    int32_t result = LastErrorResult();
    GlobalFree(block);
    return result;
  }
  ScreenImageBuilder(lcd->Display(), flags, bytes, size);
  GlobalUnlock(block);
  if (!OpenClipboard(panel)) {
    int32_t result = LastErrorResult();
    GlobalFree(block);
    return result;
  }
  if (!EmptyClipboard() || !SetClipboardData(CF_DIB, block)) {
    int32_t result = LastErrorResult();
    CloseClipboard();
    GlobalFree(block);
    return result;
  }
  CloseClipboard();
  return 0;
}

}  // namespace ksvw
