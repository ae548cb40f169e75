// A file opened for reading: its size, reads at any offset, and a read-only
// mapping of the whole of it where that is safe. The capture readers take
// their bytes from here, so that neither the program nor the command line
// has to copy a whole capture into new memory.
//
// posix/input_file_system.cpp and win32/input_file_system.cpp implement it;
// errors are errno values on both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksvw {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` for reading; other programs may still read and write it.
  // `sequential`: the file will be read once from start to end, so the
  // system may read ahead further. False, with errno set, when it cannot be
  // opened or sized, or is a directory (EISDIR: a directory opens on POSIX
  // systems and would read as a file of some huge or empty size).
  bool Open(const char* path, bool sequential = false);
  // Unmaps and closes; nothing happens when no file is open.
  void Close();
  bool IsOpen() const { return handle_ != kNoHandle; }
  // The size when the file was opened.
  uint64_t Size() const { return size_; }

  // Reads exactly `n` bytes at `offset`. False, with errno set, when a read
  // fails or the file ends first (EIO: it got shorter since it was opened).
  bool ReadAt(uint64_t offset, void* out, size_t n);

  // The whole file mapped read-only until Close, or null: for an empty
  // file, one that cannot be mapped, and on Windows one that is not on a
  // local fixed disk (a page of a network or removable file that cannot be
  // read in would end the program: such a file is read instead). Windows
  // refuses to shorten a mapped file, so a mapping on a local disk can
  // only see its bytes change, never vanish. POSIX systems do shorten it,
  // and touching a page beyond the new end raises SIGBUS: only tests map
  // there (the command-line tools read in pieces).
  const uint8_t* Map();

 private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;  // a file descriptor or a HANDLE
  uint64_t size_ = 0;
  const uint8_t* view_ = nullptr;
  bool mappable_ = false;  // Windows: on a local fixed disk
};

}  // namespace ksvw
