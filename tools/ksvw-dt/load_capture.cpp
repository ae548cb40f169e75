// The one way every ksvw-dt command loads a capture: through the program's
// own reader selectors, so that the tool reads a file exactly as the viewer
// and the batch conversion do.
#include <cstdio>
#include <cstring>

#include "capture/capture_reader.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

const CaptureReader* LoadCapture(const char* path, int which) {
  ReleaseCaptureImage(which);
  // Read in windows: memory stays the same whatever the capture's size.
  if (LoadCaptureFile(path, which, CaptureAccess::Stream)) return SelectReader(which);
  const CaptureReader* reader = SelectReader(which);
  if (reader != nullptr && reader->ReadError() != 0) {
    ReportReadError(path, reader->ReadError());
  } else {
    std::fprintf(stderr, "ksvw-dt: '%s' is not a DT capture file\n", path);
  }
  ReleaseCaptureImage(which);
  return nullptr;
}

void ReportReadError(const char* path, int error) {
  std::fprintf(stderr, "ksvw-dt: cannot read '%s': %s\n", path, std::strerror(error));
}

}  // namespace ksvw::dt
