#include "convert/capture_export.h"

namespace ksvw {

const char* ExportExtension(ExportFormat format) {
  switch (format) {
    case ExportFormat::Candump: return ".log";
    case ExportFormat::Asc: return ".asc";
    case ExportFormat::Pcapng: return ".pcapng";
  }
  return ".out";
}

ConvertResult ExportCapture(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally) {
  switch (options.format) {
    case ExportFormat::Candump: return ExportCandump(reader, options, path, progress, tally);
    case ExportFormat::Asc: return ExportAsc(reader, options, path, progress, tally);
    case ExportFormat::Pcapng: return ExportPcapng(reader, options, path, progress, tally);
  }
  return ConvertResult::CannotCreate;
}

}  // namespace ksvw
