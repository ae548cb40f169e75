#include "convert/text_converter.h"

#include <cstdio>
#include <cstring>

#include "capture/capture_settings.h"
#include "capture/channel_summary.h"
#include "convert/digits.h"
#include "convert/list_cells.h"

namespace ksvw {

namespace {

using namespace digits;

constexpr char kTextHeaderMonc[] = "--TM---CH------ID--TYPE--DLC------DATA-------ST";
constexpr char kTextHeaderLong[] = "--TM---CH------ID--TYPE--DLC------DATA---------C--ST-EXT";
constexpr char kCsvHeaderMonc[] = "TM,dT,CH,ID,TYPE,DLC,D1,D2,D3,D4,D5,D6,D7,D8,ST";
constexpr char kCsvHeaderLong[] = "TM,dT,CH,SB,SF,ID,TYPE,DLC,D1,D2,D3,D4,D5,D6,D7,D8,C,ST,EXT,TRG";

// Minutes, seconds, hundredths and millisecond digit without separators
// ("%02d%02d%02d%d").
inline char* TextTime(char* p, const TimeParts& t) {
  p = Dec02(p, t.minutes);
  p = Dec02(p, t.seconds);
  p = Dec02(p, t.hundredths);
  return Dec(p, t.millis);
}

// "%02d:%02d.%02d%d".
inline char* CsvTime(char* p, const TimeParts& t) {
  p = Dec02(p, t.minutes);
  *p++ = ':';
  p = Dec02(p, t.seconds);
  *p++ = '.';
  p = Dec02(p, t.hundredths);
  return Dec(p, t.millis);
}

// The CAN identifier as the rows print it: 29 bits in eight digits, or the
// 11-bit identifier in three.
inline char* CanId(char* p, const CaptureRecord& r) {
  return CanExtended(r) ? Hex8(p, CanIdentifier(r)) : Hex3(p, CanIdentifier(r));
}

inline bool Skipped(const CaptureRecord& r, uint8_t channelSelection) {
  uint8_t s = r.source();
  if (channelSelection == 1) return s == kSourceCan2 || s == kSourceLin2;
  if (channelSelection == 2) return s == kSourceCan1 || s == kSourceLin1;
  return false;
}

// A LIN data or checksum byte: "##" when received in error (unless raw hex
// is asked for), else its value.
inline char* LinByteText(char* p, const CaptureRecord& r, int index, bool rawHex) {
  if (!rawHex && LinByteError(r, index)) {
    p[0] = '#';
    p[1] = '#';
    return p + 2;
  }
  return Hex2(p, r.data()[index]);
}

// ---- Text rows ----

inline char* TextCanRow(char* p, const CaptureRecord& r, bool monc) {
  *p++ = ChannelDigit(r, true);
  *p++ = ' ';
  if (CanExtended(r)) {
    p = Hex8(p, CanIdentifier(r));
  } else {
    p = Spaces(p, 5);
    p = Hex3(p, CanIdentifier(r));
  }
  *p++ = ' ';
  if (CanRemote(r)) {
    p = Text(p, "REMOTE ");
    p = Dec2Space(p, CanDlc(r));
    p = Spaces(p, 17);
  } else {
    p = Text(p, "DATA   ");
    p = Dec2Space(p, CanDlc(r));
    *p++ = ' ';
    int n = CanShownDataCount(r);
    const uint8_t* data = r.data();
    for (int i = 0; i < n; ++i) p = Hex2(p, data[i]);
    p = Spaces(p, 2 * (kMaxDataBytes - n));
  }
  if (monc) return Text(p, " G");
  p = Text(p, "      G  ");
  *p++ = static_cast<char>('0' + ExternalInput(r));
  return p;
}

inline char* TextLinRow(char* p, const CaptureRecord& r, const CaptureSettings& settings,
                        bool rawHex) {
  *p++ = ChannelDigit(r);
  *p++ = ' ';

  // Identifier field, 9 characters.
  switch (LinHeaderShape(r)) {
    case LinHeader::None: p = Spaces(p, 9); break;
    case LinHeader::Sb:
      p = Hex2(p, LinSb(r));
      p = Spaces(p, 7);
      break;
    case LinHeader::SbSf:
      p = Hex2(p, LinSb(r));
      if (LinSfError(r)) {
        p = Text(p, "##-    ");
      } else {
        p = Hex2(p, LinSf(r));
        p = Text(p, "-    ");
      }
      break;
    case LinHeader::Full:
    case LinHeader::Damaged:
      p = Hex2(p, LinSb(r));
      p = Hex2(p, LinSf(r));
      *p++ = '-';
      if (LinIdError(r) && !rawHex) {
        p = Text(p, "##");
      } else {
        p = Hex2(p, rawHex ? LinProtectedId(r) : LinFrameId(r));
      }
      p = Text(p, "  ");
      break;
  }

  const LinBody body = LinBodyShape(r);
  if (body == LinBody::HeaderOnly) {
    // Type, length, data and checksum columns as one 30-character field.
    int length = LinTableLength(r, settings);
    if (length >= 0) {
      p = Text(p, "FRAME  ");
      p = Dec2Space(p, length);
      p = Spaces(p, 21);
    } else {
      p = Text(p, "FRAME");
      p = Spaces(p, 25);
    }
  } else if (body == LinBody::Illegal) {
    p = Text(p, "ILLEGAL");
    p = Spaces(p, 23);
  } else {
    // Type field, 10 characters.
    if (r.kind() == kLinKindFrame) {
      int length = LinTableLength(r, settings);
      if (length >= 0) {
        p = Text(p, "FRAME  ");
        p = Dec2Space(p, length);
        *p++ = ' ';
      } else {
        p = Text(p, "FRAME     ");
      }
    } else {
      p = Spaces(p, 10);
    }
    // Data field, 16 characters; then two spaces and the checksum.
    int n = LinDataCount(r);
    for (int i = 0; i < n; ++i) p = LinByteText(p, r, i, rawHex);
    p = Spaces(p, 2 * (kMaxDataBytes - n) + 2);
    int checksum = LinFrameChecksumIndex(r);
    p = checksum >= 0 ? LinByteText(p, r, checksum, rawHex) : Spaces(p, 2);
  }

  // Status (3 characters) and external input (3).
  char letter = StatusLetter(r);
  p[0] = ' ';
  p[1] = ' ';
  p[2] = letter != 0 ? letter : ' ';
  p[3] = ' ';
  p[4] = ' ';
  p[5] = static_cast<char>('0' + ExternalInput(r));
  return p + 6;
}

// ---- CSV rows ----

// Type, length and the eight data cells of a CAN record.
inline char* CsvCanFrame(char* p, const CaptureRecord& r, bool monc) {
  if (CanRemote(r)) {
    p = Text(p, "REMOTE,");
    p = monc ? Dec2Space(p, CanDlc(r)) : Dec(p, CanDlc(r));
    return Commas(p, 9);
  }
  p = Text(p, "DATA,");
  p = Dec(p, CanDlc(r));
  *p++ = ',';
  int n = CanShownDataCount(r);
  const uint8_t* data = r.data();
  for (int i = 0; i < n; ++i) {
    p = Hex2(p, data[i]);
    *p++ = ',';
  }
  return Commas(p, kMaxDataBytes - n);
}

inline char* CsvLinRow(char* p, const CaptureRecord& r, const CaptureSettings& settings,
                       bool rawHex) {
  *p++ = ChannelDigit(r);
  *p++ = ',';

  // SB, SF and identifier cells.
  switch (LinHeaderShape(r)) {
    case LinHeader::None: p = Commas(p, 3); break;
    case LinHeader::Sb:
      p = Hex2(p, LinSb(r));
      p = Commas(p, 3);
      break;
    case LinHeader::SbSf:
      p = Hex2(p, LinSb(r));
      *p++ = ',';
      if (LinSfError(r)) {
        p = Text(p, "##,,");
      } else {
        p = Hex2(p, LinSf(r));
        p = Commas(p, 2);
      }
      break;
    case LinHeader::Full:
    case LinHeader::Damaged:
      p = Hex2(p, LinSb(r));
      *p++ = ',';
      p = Hex2(p, LinSf(r));
      *p++ = ',';
      if (LinIdError(r) && !rawHex) {
        p = Text(p, "##,");
      } else {
        p = Hex2(p, rawHex ? LinProtectedId(r) : LinFrameId(r));
        *p++ = ',';
      }
      break;
  }

  const LinBody body = LinBodyShape(r);
  if (body == LinBody::HeaderOnly) {
    // Type, length, eight data cells and the checksum cell.
    p = Text(p, "FRAME,");
    int length = LinTableLength(r, settings);
    if (length >= 0) p = Dec(p, length);
    p = Commas(p, 10);
  } else if (body == LinBody::Illegal) {
    p = Text(p, "ILLEGAL");
    p = Commas(p, 11);
  } else {
    if (r.kind() == kLinKindFrame) {
      p = Text(p, "FRAME,");
      int length = LinTableLength(r, settings);
      if (length >= 0) p = Dec(p, length);
      *p++ = ',';
    } else {
      p = Commas(p, 2);
    }
    int n = LinDataCount(r);
    for (int i = 0; i < n; ++i) {
      p = LinByteText(p, r, i, rawHex);
      *p++ = ',';
    }
    p = Commas(p, kMaxDataBytes - n);
    int checksum = LinFrameChecksumIndex(r);
    if (checksum >= 0) p = LinByteText(p, r, checksum, rawHex);
    *p++ = ',';
  }

  char letter = StatusLetter(r);
  if (letter != 0) *p++ = letter;
  *p++ = ',';
  *p++ = static_cast<char>('0' + ExternalInput(r));
  *p++ = ',';
  if (TriggerMark(r, kTagMdcl)) *p++ = 'T';
  return p;
}

}  // namespace

size_t ComposeTextRow(const CaptureRecord& record, uint32_t dataTag,
                      const CaptureSettings& settings, const ConversionOptions& options,
                      const uint32_t* previousTime, char* row) {
  char* p = row;
  if (options.deltaTime != 0) {
    if (previousTime == nullptr) {
      p = Text(p, "-------");
    } else {
      p = TextTime(p, TimeDifference(record.timeStamp(), *previousTime));
    }
  } else {
    p = TextTime(p, SplitTime(record.timeStamp()));
  }
  *p++ = ' ';

  const bool monc = dataTag == kTagMonc;
  switch (ClassOf(record)) {
    case RecordClass::Overrun: p = Text(p, "  --OVERRUN--"); break;
    case RecordClass::LostData: p = Text(p, "  --LOSTDATA--"); break;
    case RecordClass::Can: p = TextCanRow(p, record, monc); break;
    case RecordClass::Lin:
      // The CAN-only board has no LIN channel: its records read as CAN.
      p = monc ? TextCanRow(p, record, true) : TextLinRow(p, record, settings, options.rawHex != 0);
      break;
  }
  *p = '\0';
  return static_cast<size_t>(p - row);
}

size_t ComposeCsvRow(const CaptureRecord& record, uint32_t dataTag, const CaptureSettings& settings,
                     const ConversionOptions& options, const uint32_t* previousTime, char* row) {
  char* p = row;
  const uint32_t ts = record.timeStamp();
  p = CsvTime(p, SplitTime(ts));
  *p++ = ',';
  if (previousTime == nullptr) {
    p = Text(p, "-------");
  } else {
    p = CsvTime(p, TimeDifference(ts, *previousTime));
  }
  *p++ = ',';

  const bool monc = dataTag == kTagMonc;
  RecordClass cls = ClassOf(record);
  if (cls == RecordClass::Overrun) {
    p = Text(p, "--OVERRUN--");
  } else if (cls == RecordClass::LostData) {
    p = Text(p, "--LOSTDATA--");
  } else if (monc) {
    // Every record of the CAN-only board reads as CAN.
    *p++ = ChannelDigit(record, true);
    *p++ = ',';
    p = CanId(p, record);
    *p++ = ',';
    p = CsvCanFrame(p, record, true);
    *p++ = 'G';
  } else if (cls == RecordClass::Can) {
    *p++ = ChannelDigit(record);
    p = Text(p, ",,,");
    p = CanId(p, record);
    *p++ = ',';
    p = CsvCanFrame(p, record, false);
    p = Text(p, ",G,");
    *p++ = static_cast<char>('0' + ExternalInput(record));
    // The trigger cell too, so every row has the 20 cells of its header.
    *p++ = ',';
    if (TriggerMark(record, kTagMdcl)) *p++ = 'T';
  } else {
    p = CsvLinRow(p, record, settings, options.rawHex != 0);
  }
  *p = '\0';
  return static_cast<size_t>(p - row);
}

std::tm LocalTimeNow() {
  return LocalTime(std::time(nullptr));
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

ReportBase::~ReportBase() = default;

TextReport::~TextReport() = default;

bool TextReport::EndLine() {
  return LineEndStops();
}

TextConverter::TextConverter(CaptureReader& conversion, CaptureReader& list)
    : reader_(conversion), listReader_(list) {}

TextConverter::~TextConverter() = default;

int TextConverter::RequestStop() {
  reader_.StopWalk();
  return 1;
}

size_t TextConverter::FormatListRow(int32_t row, int column, bool deltaTimeMode, char* out,
                                    size_t capacity) const {
  if (capacity == 0) return 0;
  char cell[kListCellCapacity];
  size_t n = FormatListCell(listReader_, row, column, deltaTimeMode, cell);
  if (n > capacity - 1) n = capacity - 1;
  std::memcpy(out, cell, n);
  out[n] = '\0';
  return n;
}

void TextConverter::WriteBanner(uint32_t dataTag) {
  const bool monc = dataTag == kTagMonc;
  char line[48];
  std::strcpy(line, monc ? "*=[KSTCVTC]=========================]=*"
                         : "*=[KSTCVTCL]========================]=*");
  std::tm t = clock_ ? clock_() : LocalTimeNow();
  char date[64];
  int n = std::snprintf(date, sizeof date, "%d-%02d-%02d %d:%02d:%02d", t.tm_year + 1900,
                        t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  // The date ends right before the closing "]=*", behind a "[" of its own.
  if (n > 0) {
    if (n > 33) n = 33;
    std::memcpy(line + 36 - n, date, static_cast<size_t>(n));
    line[35 - n] = '[';
  }
  output_.WriteFormatted("%s\n", line);

  // The same channel texts as `ksvw-dt info` shows.
  for (int channel = 1; channel <= 2; ++channel) {
    ChannelSummary summary = SummarizeChannel(reader_.Settings(), dataTag, channel - 1);
    output_.WriteFormatted(summary.lin ? "*  CH%d PROTOCOL: LIN                  *\n"
                                       : "*  CH%d PROTOCOL: CAN                  *\n",
                           channel);
    output_.WriteFormatted("*      BAUDRATE:%-6s                *\n", summary.baudRate);
    if (!summary.customTiming) continue;
    output_.WriteFormatted("*        BASEFREQ:%-6s              *\n", summary.baseFrequency);
    output_.WriteFormatted("*        PTS     :%d                   *\n", summary.pts);
    output_.WriteFormatted("*        PBS1    :%d                   *\n", summary.pbs1);
    output_.WriteFormatted("*        PBS2    :%d                   *\n", summary.pbs2);
    output_.WriteFormatted("*        SJW     :%d                   *\n", summary.sjw);
  }
  output_.WriteFormatted("*=====================================*\n");
}

template <class Composer>
bool TextConverter::WalkRecords(const Composer& compose, ProgressSink* progress) {
  int32_t cursor = reader_.CurrentIndex();
  const uint8_t selection = options_.channelSelection;
  bool havePrevious = false;
  uint32_t previous = 0;
  for (;;) {
    const CaptureRecord& record = reader_.Record(cursor);
    if (!Skipped(record, selection)) {
      size_t n = compose(record, havePrevious ? &previous : nullptr, row_);
      output_.WritePlain(row_, n);
      if (LineEndStops()) return true;
      if (progress != nullptr) progress->Step();
    }
    // Also for a skipped record: a row's difference is always to the record
    // just before it in the file.
    previous = record.timeStamp();
    havePrevious = true;
    if (!reader_.NextRecord(cursor)) return reader_.RecordCount() == 0;
  }
}

ConvertResult TextConverter::Convert(ProgressSink* progress, int32_t pageLimit) {
  if (output_.OpenOutput(outputPath_.c_str()) == 0) return ConvertResult::CannotCreate;
  pageLimit_ = pageLimit;
  const uint32_t tag = reader_.DataTag();
  const bool monc = tag == kTagMonc;
  const bool csv = options_.csv != 0;
  bool stopped = false;

  if (!csv) {
    WriteBanner(tag);
    stopped = EndLine();
  }
  // No header for an empty data chunk; a chunk too short for one record
  // still gets its header line.
  if (!stopped && reader_.DataLength() != 0) {
    if (csv) {
      output_.WriteText(monc ? kCsvHeaderMonc : kCsvHeaderLong);
    } else {
      output_.WriteText(monc ? kTextHeaderMonc : kTextHeaderLong);
    }
    stopped = EndLine();
    const int32_t count = reader_.RecordCount();
    if (!stopped && count > 0) {
      if (progress != nullptr) progress->SetRange(count);
      const CaptureSettings& settings = reader_.Settings();
      const ConversionOptions options = options_;
      if (csv) {
        stopped = WalkRecords(
            [&](const CaptureRecord& r, const uint32_t* prev, char* row) {
              return ComposeCsvRow(r, tag, settings, options, prev, row);
            },
            progress);
      } else {
        stopped = WalkRecords(
            [&](const CaptureRecord& r, const uint32_t* prev, char* row) {
              return ComposeTextRow(r, tag, settings, options, prev, row);
            },
            progress);
      }
    }
  }

  output_.lineCount = 0;
  output_.pageCount = 0;
  // Nor does a capture read only in part: it would pass for the whole.
  if (reader_.ReadError() != 0) {
    output_.AbandonOutput();
    return ConvertResult::ReadFailed;
  }
  // A failed output never takes the place of the file at the output path.
  if (output_.CloseOutput() != 0) return ConvertResult::WriteFailed;
  return stopped ? ConvertResult::Stopped : ConvertResult::Done;
}

}  // namespace ksvw
