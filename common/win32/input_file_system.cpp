#include <windows.h>

#include <cerrno>

#include "common/input_file.h"
#include "common/win32/errno_of.h"

namespace ksvw {

namespace {

HANDLE HandleOf(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// A local fixed disk (or a RAM disk): its pages can always be read in. A
// network share can go away and a removable disk can be pulled, and a
// mapped page that cannot be read raises EXCEPTION_IN_PAGE_ERROR.
bool OnLocalFixedDisk(const char* path) {
  char root[MAX_PATH];
  if (!GetVolumePathNameA(path, root, MAX_PATH)) return false;
  const UINT type = GetDriveTypeA(root);
  return type == DRIVE_FIXED || type == DRIVE_RAMDISK;
}

}  // namespace

bool InputFile::Open(const char* path, bool sequential) {
  Close();
  // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(path);
    const bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = directory ? EISDIR : ErrnoOf(error);
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    errno = ErrnoOf(GetLastError());
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  size_ = static_cast<uint64_t>(size.QuadPart);
  mappable_ = OnLocalFixedDisk(path);
  return true;
}

void InputFile::Close() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (handle_ != kNoHandle) CloseHandle(HandleOf(handle_));
  view_ = nullptr;
  handle_ = kNoHandle;
  size_ = 0;
  mappable_ = false;
}

bool InputFile::ReadAt(uint64_t offset, void* out, size_t n) {
  auto* p = static_cast<uint8_t*>(out);
  while (n > 0) {
    // A positioned read on a synchronous handle: the OVERLAPPED carries
    // the offset only.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!ReadFile(HandleOf(handle_), p, want, &got, &at)) {
      DWORD error = GetLastError();
      errno = error == ERROR_HANDLE_EOF ? EIO : ErrnoOf(error);
      return false;
    }
    if (got == 0) {
      errno = EIO;
      return false;
    }
    p += got;
    offset += got;
    n -= got;
  }
  return true;
}

const uint8_t* InputFile::Map() {
  if (view_ != nullptr || !mappable_ || size_ == 0 || size_ > SIZE_MAX) return view_;
  HANDLE mapping = CreateFileMappingA(HandleOf(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  // The view keeps the mapping and the file alive; their handles are not
  // needed for it.
  view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  CloseHandle(mapping);
  return view_;
}

}  // namespace ksvw
