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

TEST(ListTimes, AbsoluteAndDeltaAcrossTheHourWrap) {
  List list(kTagMonc, {CanData(1, 1, false, {}, TimeStamp(59, 59, 99, 45)),
                       CanData(1, 1, false, {}, TimeStamp(0, 0, 0, 0)),
                       CanData(1, 1, false, {}, TimeStamp(5, 12, 34, 25))});
  ASSERT_TRUE(list.loaded);
  EXPECT_EQ(list.Cell(0, 0), "59:59:999");
  EXPECT_EQ(list.Cell(2, 0), "05:12:345");
  EXPECT_EQ(list.Cell(0, 0, true), " --:--:---");
  EXPECT_EQ(list.Cell(1, 0, true), "+00:00:001");
  EXPECT_EQ(list.Cell(2, 0, true), "+05:12:345");
  // Only the time column changes with delta mode.
  EXPECT_EQ(list.Row(1, true)[4], list.Row(1, false)[4]);
}

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

TEST(ListCan, DataRemoteAndIdentifiers) {
  List list(kTagMonc, {
                          CanData(1, 0x123, false, {0x11, 0x22, 0x33}),
                          CanData(2, 0x123, true, {0xAB}, 0, 9),
                          CanRemoteFrame(1, 0x7FF, false, 8),
                      });
  std::vector<std::string> data = {"00:00:000", "1", "", "", "123", "DATA", " 3", "11", "22", "33",
                                   "",          "",  "", "", "",    "",     "G",  "",   ""};
  EXPECT_EQ(list.Row(0), data);
  EXPECT_EQ(list.Cell(1, 1), "2");
  EXPECT_EQ(list.Cell(1, 4), "00000123");
  EXPECT_EQ(list.Cell(1, 6), " 9");
  EXPECT_EQ(list.Cell(1, 7), "AB");
  std::vector<std::string> remote = {"00:00:000", "1", "", "", "7FF", "REMOTE", " 8", "", "", "",
                                     "",          "",  "", "", "",    "",       "G",  "", ""};
  EXPECT_EQ(list.Row(2), remote);
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

TEST(ListMarkers, OnlyTimeAndMarkerWord) {
  List list(kTagMdcl,
            {build::WithLineFlags(build::Marker(kSourceOverrun, TimeStamp(1, 2, 3, 4)), 0x90),
             build::Marker(kSourceLostData, TimeStamp(1, 2, 4, 0))});
  std::vector<std::string> overrun(kListColumnCount, "");
  overrun[0] = "01:02:030";
  overrun[1] = "OVERRUN";
  EXPECT_EQ(list.Row(0), overrun);
  EXPECT_EQ(list.Cell(1, 1), "LOSTDATA");
  EXPECT_EQ(list.Cell(1, 0, true), "+00:00:010");
  EXPECT_EQ(list.Cell(1, 17), "");
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
                          Lin(1, 0x55, 0xA1, 0xC5, 0, 1, {0x77}, 0x0004 | 0x1000),
                      });
  std::vector<std::string> row = list.Row(0);
  EXPECT_EQ(row[3], "(A1)");
  EXPECT_EQ(row[4], "(00) [ 80 ]");
  EXPECT_EQ(row[7], "01");
  EXPECT_EQ(row[8], "(02)");
  EXPECT_EQ(row[15], "(CC)");
  EXPECT_EQ(row[16], "E");
  // count 1 with a checksum: no data, checksum data[0] in error; code 2.
  row = list.Row(1);
  EXPECT_EQ(row[4], "05 [ C5 ]");
  EXPECT_EQ(row[7], "");
  EXPECT_EQ(row[15], "(77)");
  EXPECT_EQ(row[16], "S");
}

TEST(ListLin, HeaderOnlyShortAndHeaderlessRecords) {
  List list(kTagMdcl, {
                          Lin(1, 0x55, 0xA1, 0x80, 0, -1, {}),
                          Lin(1, 0x55, 0xA1, 0x80, 1, -1, {}),
                          Lin(1, 0x55, 0xA1, 0x80, 0, -2, {}, 0x0001),
                          Lin(1, 0x55, 0xA1, 0x80, 0, -3, {}),
                          Lin(2, 0x55, 0xA1, 0x80, 2, 2, {0x10, 0x20, 0x30}),
                          Lin(1, 0x55, 0xA1, 0x80, 1, 2, {0x10, 0x20, 0x30}),
                      });
  std::vector<std::string> headerOnly = {"00:00:000", "1", "55", "A1", "00 [ 80 ]", "FRAME", "",
                                         "",          "",  "",   "",   "",          "",      "",
                                         "",          "",  "R",  "0",  ""};
  EXPECT_EQ(list.Row(0), headerOnly);
  EXPECT_EQ(list.Cell(1, 16), "");  // kind 1 without errors has no letter
  std::vector<std::string> row = list.Row(2);
  EXPECT_EQ(row[2], "55");
  EXPECT_EQ(row[3], "(A1)");
  EXPECT_EQ(row[4], "");  // no identifier received
  EXPECT_EQ(row[5], "ILLEGAL");
  EXPECT_EQ(row[16], "E");
  row = list.Row(3);
  EXPECT_EQ(row[2], "55");
  EXPECT_EQ(row[3], "");
  EXPECT_EQ(row[4], "");
  EXPECT_EQ(row[5], "ILLEGAL");
  EXPECT_EQ(row[16], "");
  // kind 2: no header, no type, data only, no checksum, no letter.
  std::vector<std::string> headerless = {"00:00:000", "2", "", "", "", "", "", "10", "20", "",
                                         "",          "",  "", "", "", "", "", "0",  ""};
  EXPECT_EQ(list.Row(4), headerless);
  // kind 1 counts data only; the checksum cell shows data[count].
  row = list.Row(5);
  EXPECT_EQ(row[5], "");
  EXPECT_EQ(row[7], "10");
  EXPECT_EQ(row[8], "20");
  EXPECT_EQ(row[15], "30");
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
