// A capture download into a file of its own beside the file it is for: the
// link's chain (CKSRemote4q) writes `partial`, which replaces `target` only
// when its caller keeps the download. The program downloads DATAFILE.NEW
// for its working file DATAFILE.TMP and keeps a cancelled download too;
// ksvw-remote downloads a temporary beside its output and keeps only a
// whole one.
#pragma once

#include <cstdint>
#include <string>

namespace ksvw {

class CKSRemote4q;

struct DownloadFile {
  std::string partial;
  std::string target;

  // Creates `partial` anew and requests the first section (the chain asks
  // for the others as each one ends). A failed start leaves no file.
  int32_t Start(CKSRemote4q* link) const;
  // Moves the ended download over `target`. False, with the system error
  // left in place and `partial` still there, when it cannot.
  bool Place() const;
  // Removes `partial` (a download that is not kept).
  void Drop() const;
};

}  // namespace ksvw
