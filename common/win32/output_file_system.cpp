#include "common/output_file_system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cctype>
#include <cerrno>

#include "common/win32/errno_of.h"

namespace ksvw::output_fs {

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder and
// with any extension ("NUL.txt" is the null device too).
bool IsDeviceName(const std::string& path) {
  size_t name = path.find_last_of("/\\:");
  name = name == std::string::npos ? 0 : name + 1;
  std::string stem = path.substr(name, path.find('.', name) - name);
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

// Symbolic links are rare on Windows and need privileges to make; the
// rename below replaces a link itself, so they are not followed here.
bool Examine(const std::string& path, Kind& kind, std::string& resolved, int& error) {
  resolved = path;
  if (IsDeviceName(path)) {
    kind = Kind::Device;
    return true;
  }
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD last = GetLastError();
    if (last == ERROR_FILE_NOT_FOUND || last == ERROR_PATH_NOT_FOUND) {
      kind = Kind::Missing;
      return true;
    }
    error = ErrnoOf(last);
    return false;
  }
  kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Directory : Kind::Regular;
  return true;
}

std::FILE* CreateNew(const std::string& path, const std::string&, int& error) {
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    error = errno;
    _close(fd);
    std::remove(path.c_str());
  }
  return file;
}

// rename() of the C library refuses an existing target on Windows; only
// MoveFileEx with MOVEFILE_REPLACE_EXISTING replaces it in one step.
bool Rename(const std::string& from, const std::string& to, bool replace, int& error) {
  if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
  error = ErrnoOf(GetLastError());
  return false;
}

unsigned long ProcessNumber() {
  return GetCurrentProcessId();
}

void BinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

}  // namespace ksvw::output_fs
