// The signals pane through the real program: the databases SETTING.ini
// names (a missing one reported once at start and its entry kept), View >
// Signal Database... with a file it refuses and one it takes, and the
// selected frame's signals as the mouse and the keyboard move the
// selection. The time from a selection to its signals is printed.
#include "capture/capture_reader.h"
#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

class SignalsTest : public GuiTest {
 protected:
  HWND Pane() { return FindControl(program_.MainWindow(), IDT_SIGNAL_PANE_LIST); }
  std::string Heading() {
    return WindowText(FindControl(program_.MainWindow(), IDT_SIGNAL_PANE_HEADING));
  }
  // "name=value unit label raw" of every row, joined by "; ".
  std::string Rows() {
    std::string out;
    for (int row = 0; row < program_.Reader().ListItemCount(Pane()); ++row) {
      std::vector<std::string> c = program_.Reader().ListRow(Pane(), row, 5);
      out += (row ? "; " : "") + c[0] + "=" + c[1] + " " + c[2] + " " + c[3] + " " + c[4];
    }
    return out;
  }
  // Selects `row` with a click on it (a row in view), or alone as Find
  // selects its match (LVM_SETITEMSTATE).
  void Select(int row, bool click = false) {
    if (click) {
      RECT r{};
      ASSERT_TRUE(program_.Reader().ListItemRect(program_.List(), row, &r));
      ASSERT_TRUE(ClickAt(program_.List(), POINT{r.left + 20, (r.top + r.bottom) / 2}));
    } else {
      RemoteBuffer item(program_.Process(), sizeof(LVITEMA));
      LVITEMA state{};
      state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
      for (int at : {-1, row}) {
        state.state = at < 0 ? 0 : state.stateMask;
        ASSERT_TRUE(item.Write(0, &state, sizeof state));
        ASSERT_TRUE(Send(program_.List(), LVM_SETITEMSTATE, static_cast<WPARAM>(at), item.At()));
      }
      ASSERT_TRUE(Send(program_.List(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE));
    }
    ASSERT_TRUE(WaitUntil([&] {
      return program_.Status(1).rfind(std::to_string(row) + " /", 0) == 0;
    })) << "row "
        << row << ": status " << program_.Status(1);
  }
  std::string Settings() {
    std::vector<uint8_t> bytes;
    ReadWholeFile(program_.PathInFolder("SETTING.ini"), bytes);
    return std::string(bytes.begin(), bytes.end());
  }
};

TEST_F(SignalsTest, DatabasesFromSettingsAndTheDialogDecodeTheSelectedFrame) {
  const std::string dbc = DataFile("vehicle.dbc"), missing = DataFile("missing.dbc");
  ASSERT_NO_FATAL_FAILURE(Start("[DBC]\r\nCH1=" + dbc + "\r\nCH2=" + missing + "\r\n"));
  ASSERT_NO_FATAL_FAILURE(
      ExpectBox(Text(IDS_SIGNALS_CAPTION),
                Text(IDS_SIGNALS_START_FAILED) + "\n\n" + missing + ": no such file"));
  EXPECT_FALSE(WaitUntil([&] { return !MessageBoxes(program_.Pid()).empty(); }, 500)) << "twice";
  EXPECT_NE(Settings().find("CH2=" + missing), std::string::npos) << "the entry was not kept";

  // Rows of each shape, found in the file as the program reads it.
  std::vector<uint8_t> file;
  ASSERT_TRUE(ReadWholeFile(DataFile("vehicle.DT"), file));
  CaptureReader reader;
  ASSERT_TRUE(reader.LoadCopy(file.data(), file.size()));
  int unknown = -1, remote = -1, cut = -1, diagnostics = -1;
  for (int i = 0; i < reader.RecordCount(); ++i) {
    const CaptureRecord& r = reader.Record(i);
    const uint32_t id = CanIdentifier(r);
    if (id == 0x7DF) unknown = i;
    if (CanRemote(r)) remote = i;
    if (id == 0x100 && r.count() == 2) cut = i;
    if (id == 0x300 && diagnostics < 0) diagnostics = i;
  }
  ASSERT_NO_FATAL_FAILURE(OpenCapture(DataFile("vehicle.DT"), reader.RecordCount()));
  EXPECT_EQ(Heading(), Text(IDS_SIGNALS_NO_ROW));
  const struct {
    int row;
    std::string heading, rows;
  } cases[] = {
      {0, "CH1  100  EngineData",
       "EngineSpeed=800 rpm  3200; CoolantTemp=70 degC  110; Throttle=0 %  0; EngineTorque=0 Nm  "
       "0"},
      {1, "CH1  1A0  Transmission", "Gear=0  Neutral 0; VehicleSpeed=0 km/h  0; ShiftActive=0   0"},
      {diagnostics, "CH2  300: " + Text(IDS_SIGNALS_NO_DATABASE), ""},
      {unknown, "CH1  7DF: " + Text(IDS_SIGNALS_NOT_IN_DATABASE), ""},
      {remote, Text(IDS_SIGNALS_NOT_DECODED), ""},
      {cut, "CH1  100  EngineData   (" + Text(IDS_SIGNALS_BEYOND) + " 3)",
       "EngineSpeed=2026.75 rpm  8107"},
  };
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(Select(c.row, c.row == 0));
    EXPECT_EQ(Heading(), c.heading) << "row " << c.row;
    EXPECT_EQ(Rows(), c.rows) << "row " << c.row;
  }

  // The dialog refuses a faulty file and changes nothing; then takes CH2.
  const std::string bad = program_.PathInFolder("bad.dbc");
  ASSERT_TRUE(WriteWholeFile(bad, "BO_ 1 M: 1 N\n SG_ S : 4|8@1+ (1,0) [0|0] \"\" N\n"));
  ASSERT_TRUE(program_.Command(IDC_SIGNAL_DATABASE));
  HWND dialog = WaitForWindow(program_.Pid(), kDialogClass, Text(IDS_SIGNALS_CAPTION).c_str());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDT_DBC_CH2)), missing);
  Picture(dialog, "signal_database");
  ASSERT_TRUE(SetText(GetDlgItem(dialog, IDT_DBC_CH2), bad));
  ASSERT_TRUE(PressButton(dialog, IDOK));
  ASSERT_NO_FATAL_FAILURE(
      ExpectBox(Text(IDS_SIGNALS_CAPTION),
                Text(IDS_SIGNALS_LOAD_FAILED) + "\n\n" + bad +
                    ":2:10: signal bits run past the message's 1 data bytes (found '4')",
                IDOK, dialog));
  EXPECT_TRUE(IsWindow(dialog));
  ASSERT_TRUE(SetText(GetDlgItem(dialog, IDT_DBC_CH2), dbc));
  ASSERT_TRUE(PressButton(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
  EXPECT_NE(Settings().find("[DBC]\r\nCH1=" + dbc + "\r\nCH2=" + dbc + "\r\n"), std::string::npos)
      << Settings();
  ASSERT_NO_FATAL_FAILURE(Select(diagnostics));
  EXPECT_EQ(Heading(), "CH2  300  Diagnostics");
  EXPECT_EQ(Rows(), "Mode=1  Battery 1; BatteryVoltage=13.8 V  13800");

  // The keyboard moves the selection and the pane follows, timed from the
  // key to its return (the pane has decoded and set its texts by then):
  // Down over rows 1 to 10 and Up back, all in view, so that the list's own
  // scrolling is not counted.
  ASSERT_NO_FATAL_FAILURE(Select(0));
  std::vector<double> ms, idle;
  for (int step = 0, row = 0; step < 60; ++step) {
    const WORD key = step % 20 < 10 ? VK_DOWN : VK_UP;
    row += key == VK_DOWN ? 1 : -1;
    Stopwatch clock;
    ASSERT_TRUE(Send(program_.List(), WM_KEYDOWN, key, 1));
    ms.push_back(clock.Ms());
    ASSERT_TRUE(Send(program_.List(), WM_KEYUP, key, 0xC0000001));
    clock.Restart();
    ASSERT_TRUE(Send(program_.List(), WM_NULL, 0, 0));  // what a message alone costs
    idle.push_back(clock.Ms());
    const char channel = reader.Record(row).source() == 1 ? '1' : '2';
    EXPECT_EQ(Heading().substr(0, 5), std::string("CH") + channel + "  ") << "row " << row;
  }
  Figure(
      "selection to its signals (key Down or Up sent to the list until it returns): median "
      "%.2f ms, most %.2f ms, of which a message alone %.2f ms (%zu keys)",
      Median(ms), *std::max_element(ms.begin(), ms.end()), Median(idle), ms.size());
  ASSERT_NO_FATAL_FAILURE(Select(1));  // a value with its label in the picture
  Picture(program_.MainWindow(), "signals_pane");
}

}  // namespace
}  // namespace ksvw::uiauto
