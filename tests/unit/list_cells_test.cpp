// The capture list's cell texts: times and differences, CAN and LIN fields,
// markers, the board-dependent columns and damaged records.
#include "convert/list_cells.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

using build::CanData;
using build::CanRemoteFrame;
using build::Lin;
using build::TimeStamp;

class List {
 public:
  List(uint32_t tag, const std::vector<CaptureRecord>& records,
       const build::SettingsPlan& plan = build::SettingsPlan{}) {
    std::vector<uint8_t> file =
        build::CaptureFileBuilder().Dinf(build::KnownSizeDinf(plan)).Data(tag, records).Build();
    loaded = reader.LoadCopy(file.data(), file.size());
  }
  // The cell through an exactly sized heap buffer, so that AddressSanitizer
  // sees any write past the 16 bytes a cell may use.
  std::string Cell(int32_t row, int column, bool delta = false) const {
    std::unique_ptr<char[]> out(new char[kListCellCapacity]);
    size_t n = FormatListCell(reader, row, column, delta, out.get());
    std::string text(out.get());
    EXPECT_EQ(n, text.size());
    return text;
  }
  // Columns 0..18 of a row.
  std::vector<std::string> Row(int32_t row, bool delta = false) const {
    std::vector<std::string> cells;
    for (int k = 0; k < kListColumnCount; ++k) cells.push_back(Cell(row, k, delta));
    return cells;
  }

  CaptureReader reader;
  bool loaded = false;
};

// Rows of every shape in tests/data/edge.DT, absolute and delta times
// across the hour wrap included, are compared byte for byte with
// `ksvw-dt list` by sample_outputs_test.sh; the cells here are the shapes
// and boards that capture lacks.
TEST(ListTimes, DamagedTimeStampsStayInsideTheCell) {
  build::RecordFields f;
  f.timeStamp = 0xFFFFFFFF;
  build::RecordFields g;
  g.timeStamp = 0;
  List list(kTagMonc, {build::Record(f), build::Record(g)});
  EXPECT_EQ(list.Cell(0, 0), "255:255:25551");
  // +-196:-196:-156-41 does not fit: it is cut to 15 characters.
  EXPECT_EQ(list.Cell(1, 0, true), "+-196:-196:-156");
}

TEST(ListCan, DlcAboveTheDataCount) {
  List list(kTagMonc, {CanData(2, 0x123, true, {0xAB}, 0, 9)});
  std::vector<std::string> row = {"00:00:000", "2", "", "", "00000123", "DATA", " 9", "AB", "", "",
                                  "",          "",  "", "", "",         "",     "G",  "",   ""};
  EXPECT_EQ(list.Row(0), row);
}

TEST(ListChannel, DigitsOfEverySourceArePrintable) {
  // LIN sources above 4 only come from damaged files; their digits go on
  // counting while printable, and anything else shows as '?', never as a
  // NUL that would cut the cell short.
  build::RecordFields f;
  std::vector<CaptureRecord> records;
  for (int source : {1, 2, 3, 4, 5, 0, 200, 210, 255}) {
    f.source = static_cast<uint8_t>(source);
    records.push_back(build::Record(f));
  }
  List list(kTagMdcl, records);
  std::vector<std::string> digits;
  for (int32_t row = 0; row < 9; ++row) digits.push_back(list.Cell(row, 1));
  EXPECT_EQ(digits, (std::vector<std::string>{"1", "2", "1", "2", "3", ".", "?", "?", "-"}));
}

TEST(ListBoard, ExternalInputAndTriggerByDataTag) {
  CaptureRecord flagged =
      build::WithStatus(build::WithLineFlags(CanData(1, 0x10, false, {}), 0x90), 0x0080);
  CaptureRecord statusOnly = build::WithStatus(CanData(1, 0x10, false, {}), 0x0080);
  CaptureRecord linesOnly = build::WithLineFlags(CanData(1, 0x10, false, {}), 0x80);
  List monc(kTagMonc, {flagged, statusOnly, linesOnly});
  EXPECT_EQ(monc.Cell(0, 17), "");
  EXPECT_EQ(monc.Cell(0, 18), "T");
  EXPECT_EQ(monc.Cell(1, 18), "T");
  EXPECT_EQ(monc.Cell(2, 18), "");
  List mdcl(kTagMdcl, {flagged, statusOnly, linesOnly});
  EXPECT_EQ(mdcl.Cell(0, 17), "1");
  EXPECT_EQ(mdcl.Cell(0, 18), "T");
  EXPECT_EQ(mdcl.Cell(1, 17), "0");
  EXPECT_EQ(mdcl.Cell(1, 18), "");
  EXPECT_EQ(mdcl.Cell(2, 18), "T");
}

TEST(ListMarkers, LineFlagsOfAMarkerShowNothing) {
  List list(kTagMdcl,
            {build::WithLineFlags(build::Marker(kSourceOverrun, TimeStamp(1, 2, 3, 4)), 0x90)});
  std::vector<std::string> overrun(kListColumnCount, "");
  overrun[0] = "01:02:030";
  overrun[1] = "OVERRUN";
  EXPECT_EQ(list.Row(0), overrun);
}

TEST(ListLin, FrameWithChecksumAndTable) {
  build::SettingsPlan plan;
  plan.channel[1].linTable = true;
  plan.channel[1].linTableLengths[0] = 0x12;  // low 4 bits: 2
  List list(kTagMdcl,
            {
                Lin(1, 0x55, 0xA1, 0x80, 0, 3, {0x01, 0x02, 0xCC}),
                Lin(2, 0x55, 0xA1, 0x80, 0, 3, {0x01, 0x02, 0xCC}),
            },
            plan);
  std::vector<std::string> row = {"00:00:000", "1",  "55", "A1", "00 [ 80 ]", "FRAME", "",
                                  "01",        "02", "",   "",   "",          "",      "",
                                  "",          "CC", "G",  "0",  ""};
  EXPECT_EQ(list.Row(0), row);
  EXPECT_EQ(list.Cell(1, 1), "2");
  EXPECT_EQ(list.Cell(1, 6), " 2");
}

TEST(ListLin, ErrorsAreParenthesised) {
  List list(kTagMdcl, {
                          Lin(1, 0x55, 0xA1, 0x80, 0, 3, {0x01, 0x02, 0xCC},
                              0x0001 | 0x0002 | 0x0008 | 0x0010),
                      });
  std::vector<std::string> row = list.Row(0);
  EXPECT_EQ(row[3], "(A1)");
  EXPECT_EQ(row[4], "(00) [ 80 ]");
  EXPECT_EQ(row[7], "01");
  EXPECT_EQ(row[8], "(02)");
  EXPECT_EQ(row[15], "(CC)");
  EXPECT_EQ(row[16], "E");
}

TEST(ListCounts, CountsBeyondTheRecordStopAtItsLastByte) {
  build::RecordFields can;  // CAN: eight bytes at most, no checksum column
  can.source = 2;
  can.count = 100;
  can.kind = 8;
  can.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  build::RecordFields f;
  f.source = 3;
  f.count = 127;
  f.kind = 0;
  f.status = 0xFFFF;
  f.identifier = 0x55A18000;
  f.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  build::RecordFields g = f;
  g.kind = 1;
  g.status = 0;
  List list(kTagMdcl, {build::Record(f), build::Record(g), build::Record(can)});
  std::vector<std::string> row = list.Row(0);
  EXPECT_EQ(row[7], "(01)");
  EXPECT_EQ(row[14], "(08)");
  EXPECT_EQ(row[15], "(09)");
  EXPECT_EQ(row[16], "O");
  row = list.Row(1);
  EXPECT_EQ(row[14], "08");
  EXPECT_EQ(row[15], "09");
  row = list.Row(2);
  EXPECT_EQ(row[7], "01");
  EXPECT_EQ(row[14], "08");
  EXPECT_EQ(row[15], "");
}

TEST(ListRange, RowsAndColumnsOutsideTheFileAreEmpty) {
  List list(kTagMonc, {CanData(1, 0x10, false, {1})});
  EXPECT_EQ(list.Cell(-1, 0), "");
  EXPECT_EQ(list.Cell(1, 0), "");
  EXPECT_EQ(list.Cell(0, -1), "");
  EXPECT_EQ(list.Cell(0, 19), "");
  CaptureReader empty;
  char out[kListCellCapacity];
  EXPECT_EQ(FormatListCell(empty, 0, 0, false, out), 0u);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace ksvw
