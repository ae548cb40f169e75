// The capture download with its dialog, and the file commands around the
// working file DATAFILE.TMP: open a DT file, save it, show it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ksvw {

inline constexpr char kTemporaryFileName[] = "DATAFILE.TMP";
// A download is written here and moved over the working file only when it
// ends with success or cancel: a failed one never replaces the working copy.
inline constexpr char kDownloadFileName[] = "DATAFILE.NEW";

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

}  // namespace ksvw
