// The one way every tool and the converter write an output file: the file
// at the target's name changes only when the new one is whole.
//
// A regular file, or a name where nothing is yet, is written to a temporary
// file beside it (created new under a unique name, never over anything) and
// renamed over the target by Commit once every write, the flush and the close
// have succeeded. A failed run, or an object destroyed without Commit, removes
// that temporary and nothing else: the old file stays byte for byte as it was.
//
// A target that is a symbolic link is written through to the file the link
// ends in; the link stays. A device or FIFO (/dev/null, /dev/stdout, a pipe)
// cannot be replaced: it is written directly and never removed. The name "-"
// is standard output, written directly too (in binary mode), flushed by
// Commit and never closed.
//
// The replacing rename is the platform's (output_file_system.h): rename(2),
// or MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace ksvw {

class OutputFile {
 public:
  // What Commit may do to a file that already has the target's name.
  enum class Existing { Replace, Keep };

  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Gets ready to write `path`. False, with Error() set, when nothing can be
  // written there: a directory, a missing folder, no permission, or (with
  // Existing::Keep) a file of that name already there.
  bool Open(const std::string& path, Existing existing = Existing::Replace);

  // Writes n bytes (unbuffered: callers write in large blocks). False from
  // the first failure on; Error() keeps its cause.
  bool Write(const void* bytes, size_t n);

  // Writes n bytes over the start of what was written, for a head whose
  // counts are known only at the end. False when the output is a device or
  // pipe, which cannot go back (nothing written, no error), or on a failure
  // (Error() set).
  bool RewriteStart(const void* bytes, size_t n);

  // Closes the file and puts it in place. False, with the temporary removed
  // and the target untouched, when a write, the close or the rename failed.
  bool Commit();

  // Closes and removes the temporary; the target is untouched. Does nothing
  // when no file is open.
  void Abandon();

  bool IsOpen() const { return file_ != nullptr; }
  // The errno value of the first failure, 0 while there was none.
  int Error() const { return error_; }

 private:
  bool Fail(int error);

  std::FILE* file_ = nullptr;
  bool standardOutput_ = false;
  std::string target_;  // the file to replace, after symbolic links
  std::string temp_;    // empty when the target is written directly
  bool keepExisting_ = false;
  int error_ = 0;
};

// Writes `n` bytes as the whole new content of `path` through an OutputFile.
// Returns 0, or the errno value of the failure (the old file is then kept).
int WriteOutputFile(const std::string& path, const void* bytes, size_t n);

// A fresh name for a temporary beside `target`: "FOLDER/.NAME.1a2b3c4d.tmp",
// in the same folder so that the rename never crosses file systems, cut so
// that it fits where the target fits.
std::string TemporaryNameBeside(const std::string& target);

// The text of an OutputFile error for a message ("No space left on device").
std::string OutputErrorText(int error);

// True when writing `output` would overwrite `input`: the same file under
// another name, through a link, or the same name.
bool WouldOverwrite(const std::string& output, const std::string& input);

}  // namespace ksvw
