// ksvw-dt: reads DT capture files from the command line.
//
//   ksvw-dt info FILE
//   ksvw-dt list [--delta] FILE
//   ksvw-dt convert [--csv] [--delta] [--channel both|1|2] [--raw-hex] [-o OUT] FILE...
//   ksvw-dt search FILE KIND [--from ROW] [--up] [--count]
//   ksvw-dt export --format FORMAT [--channel both|1|2] [--force] [OPTION] [-o OUT] FILE...
//   ksvw-dt lcd-image [--mode 0|1|2] SCREEN [-o OUT.bmp]
//   ksvw-dt decode --dbc DB.dbc [--dbc2 DB2.dbc] [--channel both|1|2] [--signals P]
//                  [--choices] [-o OUT.csv] FILE...
//   ksvw-dt plot --dbc DB.dbc [--dbc2 DB2.dbc] --signal NAME[,NAME...] [-o OUT.svg] FILE...
//   ksvw-dt dbc DB.dbc
#include <cstdio>
#include <cstring>

#include "tools/ksvw-dt/commands.h"

namespace {

constexpr const char kUsage[] =
    "usage: ksvw-dt COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Reads DT capture files and renders analyzer screens.\n"
    "\n"
    "commands:\n"
    "  info     board, tag, record count and channel settings of a capture\n"
    "  list     the capture list's 19 columns as tab-separated text\n"
    "  convert  convert captures to text (.txt) or CSV (.csv) files\n"
    "  search   find or count records by trigger, error, data, time or external input\n"
    "  export   export captures for the files of other bus tools (see export --help)\n"
    "  lcd-image  render a raw analyzer screen as the key emulator's BMP image\n"
    "  decode   decode frames into signal values (CSV) with a DBC database\n"
    "  plot     draw signals over time as an SVG picture\n"
    "  dbc      list the messages and signals of a DBC database\n"
    "\n"
    "Run 'ksvw-dt COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 not a capture file (or screen) or nothing found,\n"
    "2 usage error, 3 output error, 4 a signal database could not be read. An\n"
    "output file is replaced only when the new one is whole: a failed run leaves\n"
    "the old file as it was.\n";

struct Command {
  const char* name;
  int (*run)(int, char**);
};
constexpr Command kCommands[] = {
    {"info", ksvw::dt::RunInfo},       {"list", ksvw::dt::RunList},
    {"convert", ksvw::dt::RunConvert}, {"search", ksvw::dt::RunSearch},
    {"export", ksvw::dt::RunExport},   {"lcd-image", ksvw::dt::RunLcdImage},
    {"decode", ksvw::dt::RunDecode},   {"plot", ksvw::dt::RunPlot},
    {"dbc", ksvw::dt::RunDbc},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return ksvw::dt::kExitUsage;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return ksvw::dt::kExitOk;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "ksvw-dt: unknown command '%s'\n%s", argv[1], kUsage);
  return ksvw::dt::kExitUsage;
}
