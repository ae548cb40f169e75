// The one way every ksvw-dt command loads a capture: through the program's
// own reader selectors, so that the tool reads a file exactly as the viewer
// and the batch conversion do.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/capture_reader.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

const CaptureReader* LoadCapture(const char* path, int which) {
  ReleaseCaptureImage(which);
  errno = 0;
  if (LoadCaptureFile(path, which)) return SelectReader(which);
  const int error = errno;
  // A reader left without an image could not read the file at all.
  const CaptureReader* reader = SelectReader(which);
  if (reader == nullptr || !reader->HasImage()) {
    std::fprintf(stderr, "ksvw-dt: cannot read '%s'%s%s\n", path, error != 0 ? ": " : "",
                 error != 0 ? std::strerror(error) : "");
  } else {
    std::fprintf(stderr, "ksvw-dt: '%s' is not a DT capture file\n", path);
  }
  ReleaseCaptureImage(which);
  return nullptr;
}

}  // namespace ksvw::dt
