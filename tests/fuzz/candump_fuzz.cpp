// libFuzzer target over ksvw-gen's candump log import: any bytes as a log,
// then the capture written from it, which must load with the record count
// the import promised, every record a CAN frame of channel 1 or 2 with a
// valid DT time. ASan and UBSan catch the rest.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "capture/capture_reader.h"
#include "tools/ksvw-gen/from_candump.h"

namespace {

using namespace ksvw;

[[noreturn]] void Fail(const char* what, long detail) {
  std::fprintf(stderr, "candump_fuzz: %s (%ld)\n", what, detail);
  std::abort();
}

const std::string output =
    (std::filesystem::temp_directory_path() / ("ksvw_candump_fuzz_" + std::to_string(getpid())))
        .string();
struct RemoveOutputAtExit {
  ~RemoveOutputAtExit() { std::remove(output.c_str()); }
} removeOutputAtExit;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* log = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (log == nullptr) return 0;
  gen::CandumpImport in;
  bool read = gen::ReadCandumpLog(log, in);
  std::fclose(log);
  if (!read) return 0;
  const int64_t records = gen::CaptureRecordCount(in);
  if (records > static_cast<int64_t>(in.frames.size())) Fail("more records than frames", records);

  OutputWriter out;
  if (out.OpenOutput(output.c_str()) == 0) Fail("cannot create the output", errno);
  gen::WriteCandumpCapture(in, out);
  if (out.CloseOutput() != 0) Fail("cannot write the output", out.Error());
  if (!LoadCaptureFile(output.c_str(), kReaderConversion)) Fail("no capture written", 0);
  const CaptureReader& capture = conversionReader;
  if (capture.RecordCount() != records || capture.DataTag() != kTagMonc)
    Fail("record count", capture.RecordCount());
  for (int32_t i = 0; i < capture.RecordCount(); ++i) {
    const CaptureRecord& r = capture.Record(i);
    const TimeParts t = SplitTime(r.timeStamp());
    if (r.source() < 1 || r.source() > 2) Fail("source", r.source());
    if (t.minutes > 59 || t.seconds > 59 || t.hundredths > 99 || (r.timeStamp() & 0xFF) > 49)
      Fail("time stamp", static_cast<long>(r.timeStamp()));
    if (r.count() < 0 || r.count() > kMaxDataBytes) Fail("count", r.count());
  }
  ReleaseCaptureImage(kReaderConversion);
  return 0;
}
