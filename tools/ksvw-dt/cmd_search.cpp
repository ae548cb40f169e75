// ksvw-dt search FILE KIND [--from ROW] [--up] [--count]
//
// Runs the search dialog's search from the command line: the options fill the
// same page texts the dialog would read, which then pass through the same
// validation and reading, so a condition that the dialog refuses is refused
// here with the same field (named, with its control id).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/search.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

namespace {

constexpr const char kSearchUsage[] =
    "usage: ksvw-dt search FILE KIND [--from ROW] [--up] [--count]\n"
    "\n"
    "Finds the first record below (or, with --up, above) the selected row that\n"
    "meets one condition, or counts every such record with --count. Rows are\n"
    "0-based; without --from no row is selected, so a downward search starts at\n"
    "row 0 and an upward search finds nothing. There is no wrap-around.\n"
    "\n"
    "KIND is one of:\n"
    "  --trigger                 records with a trigger mark\n"
    "  --error LIST              LIN records with any of the listed errors; LIST is\n"
    "                            a comma list of 1, 2, 4, 8 (error codes) and byte\n"
    "                            (SF, identifier, data or checksum byte errors)\n"
    "  --data [--ch 1|2] [--remote] [--id PATTERN] [--bytes F0,F1,...]\n"
    "         [--w0 P] [--w1 P] [--w2 P]\n"
    "                            frames of one channel (default 1) and kind (DATA,\n"
    "                            or REMOTE) whose identifier matches PATTERN (29\n"
    "                            characters of *, 0, 1, bit 28 first; default all\n"
    "                            *) and whose data bytes match the fields F0..F7:\n"
    "                            empty, two upper-case hex digits, * or W0, W1, W2\n"
    "                            (the bit patterns P: 8 characters of *, 0, 1, bit 7\n"
    "                            first; default all *); missing fields are empty\n"
    "  --time MM,SS,HH           minutes, seconds and hundredths, two characters\n"
    "                            each, digits or *\n"
    "  --ext 0|1                 records with that external-input level (MDCL only)\n"
    "\n"
    "Prints the row found, or 'count N'. Prints 'nothing found' and exits 1 when\n"
    "nothing matches (also for a count of 0). An input error names the field and\n"
    "exits 2; a file that is not a capture exits 1.\n";

int Usage(const char* message) {
  std::fprintf(stderr,
               "ksvw-dt: %s\n"
               "usage: ksvw-dt search FILE KIND [--from ROW] [--up] [--count]\n"
               "Run 'ksvw-dt search --help' for the kinds and their options.\n",
               message);
  return kExitUsage;
}

std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> items;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      items.push_back(text.substr(start));
      return items;
    }
    items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

void SetField(char (&field)[kFieldTextCapacity], std::string_view text) {
  std::string copy(text);
  SetFieldText(field, copy.c_str());
}

// Puts one character of a bit pattern into each field of a row.
void SetBitFields(char (*fields)[kFieldTextCapacity], std::string_view pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    fields[i][0] = pattern[i];
    fields[i][1] = '\0';
  }
}

bool ParseRow(const char* text, int32_t& row) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < -1 || v > 0x7FFFFFFF) return false;
  row = static_cast<int32_t>(v);
  return true;
}

// Names a page field for an input error message.
std::string FieldName(int controlId) {
  char text[64];
  for (int k = 0; k < kIdentifierBits; ++k) {
    if (kIdentifierControls[k] == controlId) {
      std::snprintf(text, sizeof text, "identifier bit %d", kIdentifierBits - 1 - k);
      return text;
    }
  }
  for (int i = 0; i < kDataByteFields; ++i) {
    if (kDataByteControls[i] == controlId) {
      std::snprintf(text, sizeof text, "data byte D%d", i);
      return text;
    }
  }
  for (int p = 0; p < kPatternCount; ++p) {
    for (int i = 0; i < kPatternBits; ++i) {
      if (kPatternControls[p][i] == controlId) {
        std::snprintf(text, sizeof text, "bit pattern W%d bit %d", p, kPatternBits - 1 - i);
        return text;
      }
    }
  }
  static constexpr const char* kTimeNames[kTimeFields] = {"minutes", "seconds", "hundredths"};
  for (int f = 0; f < kTimeFields; ++f) {
    if (kTimeControls[f] == controlId) return kTimeNames[f];
  }
  return "field";
}

// Why the field was refused, in the terms of its page's rules.
const char* ErrorRule(const SearchPageTexts& texts, SearchInputError error) {
  switch (error.stringId) {
    case kStringBitError: return "a bit must be *, 0 or 1";
    case kStringDataByteError:
      for (int i = 0; i < kDataByteFields && kDataByteControls[i] != error.controlId; ++i) {
        if (texts.dataBytes[i][0] == '\0') return "no data byte may follow an empty one";
      }
      return "a data byte is empty, two upper-case hex digits, * or W0, W1, W2";
    case kStringTimeError:
      return "minutes and seconds take * or 0-5 then * or 0-9; hundredths take * or 0-9 twice";
    default: return "invalid input";
  }
}

struct Options {
  const char* path = nullptr;
  int kind = -1;
  int32_t from = -1;
  bool up = false;
  bool count = false;
  bool dataOption = false;
  SearchPageTexts texts = InitialPageTexts();
};

// Sets the kind once; a second kind is a usage error.
bool TakeKind(Options& o, int kind) {
  if (o.kind >= 0) return false;
  o.kind = kind;
  return true;
}

bool ParseErrorList(const char* list, SearchPageTexts& texts) {
  if (*list == '\0') return true;  // no box checked: nothing matches
  static constexpr const char* kNames[kErrorBoxCount] = {"1", "2", "4", "8", "byte"};
  for (std::string_view item : SplitCommas(list)) {
    bool known = false;
    for (int b = 0; b < kErrorBoxCount; ++b) {
      if (item == kNames[b]) {
        texts.errorBoxes[b] = true;
        known = true;
      }
    }
    if (!known) return false;
  }
  return true;
}

// Parses the command line into `o`; returns -1 to go on, else an exit code.
int ParseOptions(int argc, char** argv, Options& o) {
  SearchPageTexts& t = o.texts;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&](const char*& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      std::fputs(kSearchUsage, stdout);
      return kExitOk;
    } else if (a == "--trigger") {
      if (!TakeKind(o, kSearchTrigger)) return Usage("only one kind of search at a time");
    } else if (a == "--error") {
      if (!TakeKind(o, kSearchError)) return Usage("only one kind of search at a time");
      if (!value(v)) return Usage("--error needs a list");
      if (!ParseErrorList(v, t)) return Usage("--error takes a comma list of 1, 2, 4, 8, byte");
    } else if (a == "--data") {
      if (!TakeKind(o, kSearchData)) return Usage("only one kind of search at a time");
    } else if (a == "--ch") {
      o.dataOption = true;
      if (!value(v)) return Usage("--ch needs 1 or 2");
      if (std::strcmp(v, "1") == 0) {
        t.channel = 0;
      } else if (std::strcmp(v, "2") == 0) {
        t.channel = 1;
      } else {
        return Usage("--ch takes 1 or 2");
      }
    } else if (a == "--remote") {
      o.dataOption = true;
      t.frameKind = 1;
    } else if (a == "--id") {
      o.dataOption = true;
      if (!value(v)) return Usage("--id needs a pattern");
      if (std::strlen(v) != static_cast<size_t>(kIdentifierBits)) {
        return Usage("--id takes 29 characters, bit 28 first");
      }
      SetBitFields(t.identifier, v);
    } else if (a == "--w0" || a == "--w1" || a == "--w2") {
      o.dataOption = true;
      int p = a[3] - '0';
      if (!value(v)) return Usage("a bit pattern option needs a pattern");
      if (std::strlen(v) != static_cast<size_t>(kPatternBits)) {
        return Usage("a bit pattern takes 8 characters, bit 7 first");
      }
      SetBitFields(t.patterns[p], v);
    } else if (a == "--bytes") {
      o.dataOption = true;
      if (!value(v)) return Usage("--bytes needs a list of data byte fields");
      std::vector<std::string_view> fields = SplitCommas(v);
      if (fields.size() > static_cast<size_t>(kDataByteFields)) {
        return Usage("--bytes takes at most eight fields");
      }
      for (int i = 0; i < kDataByteFields; ++i) {
        SetField(t.dataBytes[i], i < static_cast<int>(fields.size()) ? fields[i] : "");
      }
    } else if (a == "--time") {
      if (!TakeKind(o, kSearchTime)) return Usage("only one kind of search at a time");
      if (!value(v)) return Usage("--time needs MM,SS,HH");
      std::vector<std::string_view> fields = SplitCommas(v);
      if (fields.size() != static_cast<size_t>(kTimeFields)) {
        return Usage("--time takes three fields: MM,SS,HH");
      }
      for (int f = 0; f < kTimeFields; ++f) SetField(t.time[f], fields[f]);
    } else if (a == "--ext") {
      if (!TakeKind(o, kSearchExtInput)) return Usage("only one kind of search at a time");
      if (!value(v)) return Usage("--ext needs 0 or 1");
      if (std::strcmp(v, "0") != 0 && std::strcmp(v, "1") != 0) return Usage("--ext takes 0 or 1");
      SetFieldText(t.extIn, v);
    } else if (a == "--from") {
      if (!value(v) || !ParseRow(v, o.from)) return Usage("--from takes a row number");
    } else if (a == "--up") {
      o.up = true;
    } else if (a == "--count") {
      o.count = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::string message = "unknown option '" + std::string(a) + "'";
      return Usage(message.c_str());
    } else {
      if (o.path != nullptr) return Usage("one capture file at a time");
      o.path = argv[i];
    }
  }
  if (o.path == nullptr) return Usage("no capture file given");
  if (o.kind < 0) return Usage("no kind of search given");
  if (o.dataOption && o.kind != kSearchData) return Usage("data options need --data");
  return -1;
}

}  // namespace

int RunSearch(int argc, char** argv) {
  Options o;
  int parsed = ParseOptions(argc, argv, o);
  if (parsed >= 0) return parsed;

  SearchCondition condition{};
  SearchInputError error =
      StoreSearch(o.texts, o.kind, o.count ? kSearchCount : kSearchSelectFirst,
                  o.up ? SearchDirection::Up : SearchDirection::Down, condition);
  if (!error.ok()) {
    const char* text = FieldText(o.texts, error.controlId);
    std::fprintf(stderr, "ksvw-dt: input error in %s (control %d): '%s': %s\n",
                 FieldName(error.controlId).c_str(), error.controlId, text ? text : "",
                 ErrorRule(o.texts, error));
    return kExitUsage;
  }

  const CaptureReader* reader = LoadCapture(o.path, kReaderOpenedFile);
  if (reader == nullptr) return kExitNotCapture;
  SearchResult result = FindInDirection(*reader, condition, o.from);
  const int readError = reader->ReadError();
  ReleaseCaptureImage(kReaderOpenedFile);
  if (readError != 0) {
    ReportReadError(o.path, readError);
    return kExitNotCapture;
  }
  if (result.messageId == kStringNothingFound) {
    std::puts("nothing found");
    return kExitNotFound;
  }
  if (condition.mode == kSearchCount) {
    std::printf("count %s\n", std::to_string(result.count).c_str());
  } else {
    std::printf("%d\n", static_cast<int>(result.row));
  }
  return kExitOk;
}

}  // namespace ksvw::dt
