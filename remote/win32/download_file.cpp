#include "remote/win32/download_file.h"

#include <windows.h>

#include "remote/win32/ks_remote4q.h"

namespace ksvw {

int32_t DownloadFile::Start(CKSRemote4q* link) const {
  int32_t result = link ? link->StartDownload(partial.c_str()) : kErrPointer;
  if (result < 0) Drop();
  return result;
}

bool DownloadFile::Place() const {
  return MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void DownloadFile::Drop() const {
  DeleteFileA(partial.c_str());
}

}  // namespace ksvw
