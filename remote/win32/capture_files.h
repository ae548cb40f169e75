// The capture download with its dialog, and the file commands around the
// working file DATAFILE.TMP: open a DT file, save it, show it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ksvw {

inline constexpr char kTemporaryFileName[] = "DATAFILE.TMP";

// Main-window handlers of the download chain's messages.
LRESULT OnDownloadDone(HWND window, int32_t code);
LRESULT OnDownloadStep(WPARAM step);
LRESULT OnDownloadProgress(WPARAM position, LPARAM range);

// Loads the working file into the viewer and the list (after a download).
void ShowTemporaryFile();

// Opens `path` as the viewer's capture: checks and loads it, copies it over
// the working file and shows it. False (after the error box) when it is no
// capture file.
bool OpenCaptureFile(HWND window, const char* path);

// The board of a data tag as shown in status bar part 0.
const char* BoardText(uint32_t dataTag);

}  // namespace ksvw
