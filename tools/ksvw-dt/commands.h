// ksvw-dt subcommands. Each takes the arguments after its own name
// (argv[0] is the subcommand name) and returns the process exit code.
#pragma once

namespace ksvw {
class CaptureReader;
}

namespace ksvw::dt {

// Exit codes shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotCapture = 1;  // an input is not a capture file
inline constexpr int kExitNotFound = 1;    // search: nothing found
inline constexpr int kExitUsage = 2;       // bad arguments or field input
inline constexpr int kExitIo = 3;          // an output could not be written
inline constexpr int kExitDatabase = 4;    // a signal database could not be read

// Releases the reader that `which` selects (kReaderOpenedFile or
// kReaderConversion) and loads `path` into it, streamed. On failure says on standard
// error whether the file could not be read or is not a capture, leaves the
// reader empty and returns null. The caller releases the reader when done.
const CaptureReader* LoadCapture(const char* path, int which);
// Says on standard error that `path` could not be read, and why (an errno
// value): also when its records could not be read to their end.
void ReportReadError(const char* path, int error);

int RunInfo(int argc, char** argv);
int RunList(int argc, char** argv);
int RunConvert(int argc, char** argv);
int RunSearch(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunLcdImage(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunPlot(int argc, char** argv);
int RunDbc(int argc, char** argv);

}  // namespace ksvw::dt
