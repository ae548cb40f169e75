#include "convert/capture_export.h"

namespace ksvw {

namespace {

constexpr ExportFormat kFormats[] = {
    {.name = "candump",
     .extension = ".log",
     .help = "can-utils candump -l log (canplayer, log2asc, python-can);\n"
             "CAN frames only: LIN records and markers are left out\n"
             "and counted on standard error",
     .option = "--len8-dlc",
     .optionHelp = "candump: a DLC field of 9 to 15 follows the data as \"_\"\n"
                   "and its hex digit (candump -8; python-can cannot read it)",
     .takeOption = [](ExportOptions& options) { options.len8Dlc = true; },
     .write = ExportCandump},
    {.name = "asc",
     .extension = ".asc",
     .help = "Vector ASC trace; LIN frames as L1/L2 lines, checksum errors\n"
             "CSErr, no slave response TransmErr; markers, triggers and\n"
             "other LIN records as comments",
     .option = nullptr,
     .optionHelp = nullptr,
     .takeOption = nullptr,
     .write = ExportAsc},
    {.name = "pcapng",
     .extension = ".pcapng",
     .help = "Wireshark capture, interfaces can0/can1 (SocketCAN) and\n"
             "lin0/lin1 (LIN); markers, triggers and LIN records without\n"
             "identifier as packet comments",
     .option = "--split-links",
     .optionHelp = "pcapng: NAME-can.pcapng and NAME-lin.pcapng, one link type\n"
                   "each, for tcpdump and other libpcap readers",
     .takeOption = [](ExportOptions& options) { options.splitLinks = true; },
     .write = ExportPcapng},
    {.name = "blf",
     .extension = ".blf",
     .help = "Vector binary log (python-can, Wireshark): CAN_MESSAGE2,\n"
             "LIN_MESSAGE and LIN error objects; markers, triggers and LIN\n"
             "records without identifier as texts (APP_TEXT)",
     .option = nullptr,
     .optionHelp = nullptr,
     .takeOption = nullptr,
     .write = ExportBlf},
};

}  // namespace

const std::span<const ExportFormat> kExportFormats(kFormats);

const ExportFormat* FindExportFormat(std::string_view name) {
  for (const ExportFormat& format : kExportFormats) {
    if (name == format.name) return &format;
  }
  return nullptr;
}

ConvertResult ExportCapture(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally) {
  return options.format->write(reader, options, path, progress, tally);
}

}  // namespace ksvw
