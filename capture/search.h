// Search and jump over the records of a loaded capture: the one search
// condition of the program run, the texts of the search dialog's pages, their
// validation and reading, the per-record test and the two directed scans.
//
// The dialog itself is Windows code; everything it decides lives here so that
// the window code only moves texts between its controls and SearchPageTexts
// and shows the messages named by the returned string ids. The same functions
// serve the command-line tool, so both accept exactly the same input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "common/resource_ids.h"

namespace ksvw {

// ---- Dialog, control and string identifiers ----
// The numbers live in common/resource_ids.h, which the language library's
// resource script reads too; here they are arranged the way the pages and
// the validation walk them.

inline constexpr int kSearchDialog = IDD_SEARCH;
inline constexpr int kSearchTabControl = IDT_SEARCH_TABS;
// Page templates by kind (TRIGGER, ERROR, DATA, TIME, EXT IN).
inline constexpr int kSearchPageDialogs[5] = {IDD_SEARCH_TRIGGER, IDD_SEARCH_ERROR, IDD_SEARCH_DATA,
                                              IDD_SEARCH_TIME, IDD_SEARCH_EXT_IN};
inline constexpr int kSearchModeFirstRadio = IDT_SEARCH_FIRST;  // mode 0
inline constexpr int kSearchModeCountRadio = IDT_SEARCH_COUNT;  // mode 1
inline constexpr int kSearchDownButton = 1;                     // IDOK
inline constexpr int kSearchUpButton = IDT_SEARCH_UP;  // in dialog 105, not on the DATA page
inline constexpr int kSearchCancelButton = 2;          // IDCANCEL

// N control ids numbered on from `first`.
template <size_t N>
constexpr std::array<int, N> ControlRun(int first) {
  std::array<int, N> ids{};
  for (size_t i = 0; i < N; ++i) ids[i] = first + static_cast<int>(i);
  return ids;
}

// ERROR page.
inline constexpr int kErrorBoxCount = 5;
inline constexpr auto kErrorBoxControls = ControlRun<kErrorBoxCount>(IDT_ERROR_BOX_1);

// DATA page.
inline constexpr int kChannelCombo = IDT_DATA_CHANNEL;       // "CH1", "CH2"
inline constexpr int kFrameKindCombo = IDT_DATA_FRAME_KIND;  // "DATA", "REMOTE"
inline constexpr int kIdentifierBits = 29;
// Identifier bit fields, most significant bit (bit 28) first; 1040 is not
// one of them.
inline constexpr auto kIdentifierControls = [] {
  std::array<int, kIdentifierBits> ids{};
  for (int i = 0; i < kIdentifierBits; ++i)
    ids[i] = i < 3 ? IDT_ID_BIT_28 + i : IDT_ID_BIT_25 + i - 3;
  return ids;
}();
inline constexpr int kDataByteFields = 8;
inline constexpr auto kDataByteControls = ControlRun<kDataByteFields>(IDT_DATA_BYTE_0);
inline constexpr int kPatternCount = 3;
inline constexpr int kPatternBits = 8;
// Bit pattern rows W0, W1, W2; bit 7 first.
inline constexpr std::array<std::array<int, kPatternBits>, kPatternCount> kPatternControls = {
    ControlRun<kPatternBits>(IDT_PATTERN_W0), ControlRun<kPatternBits>(IDT_PATTERN_W1),
    ControlRun<kPatternBits>(IDT_PATTERN_W2)};

// TIME page: minutes, seconds, hundredths.
inline constexpr int kTimeFields = 3;
inline constexpr auto kTimeControls = ControlRun<kTimeFields>(IDT_TIME_MINUTES);

// EXT IN page.
inline constexpr int kExtInCombo = IDT_EXT_IN_LEVEL;  // "0", "1"

// Edit limits the pages set on their controls.
inline constexpr int kBitFieldLimit = 1;
inline constexpr int kByteFieldLimit = 2;  // data byte and time fields

// Language library strings.
inline constexpr int kStringNothingFound = IDS_NOTHING_FOUND;
inline constexpr int kStringResultCaption = IDS_SEARCH_RESULT_CAPTION;
inline constexpr int kStringCountFormat = IDS_SEARCH_COUNT_FORMAT;
inline constexpr int kStringDataByteError = IDS_DATA_BYTE_ERROR;
inline constexpr int kStringTimeError = IDS_TIME_ERROR;
inline constexpr int kStringBitError = IDS_BIT_ERROR;
inline constexpr int kResultCaptionChars = 9;
inline constexpr char kInputErrorCaption[] = "Input Error";

// ---- Condition ----

enum SearchKind : int {
  kSearchTrigger = 0,
  kSearchError = 1,
  kSearchData = 2,
  kSearchTime = 3,
  kSearchExtInput = 4,
};
inline constexpr int kSearchKinds = 5;

enum SearchMode : int { kSearchSelectFirst = 0, kSearchCount = 1 };
enum class SearchDirection : uint8_t { Down, Up };

// One data byte's condition. With `exact`, `value` is the byte wanted;
// otherwise `value` is the bit pattern number 1..3, or 0 for no condition.
struct DataByteCondition {
  char text[kByteFieldLimit + 1];
  bool exact;
  uint8_t value;
};

struct BitPattern {
  char text[kPatternBits + 1];
  uint8_t value;
  uint8_t mask;
};

// The single condition of the program run; zero-initialised it is "trigger,
// select first, nothing restored". Texts are kept so that the pages can show
// them again when the dialog is reopened.
struct SearchCondition {
  int kind;  // SearchKind
  int mode;  // SearchMode
  SearchDirection direction;
  bool set;      // a search button stored this condition (false after Cancel)
  bool restore;  // the pages show the stored values rather than initial ones

  // Error: bit i = box kErrorBoxControls[i] checked; statusMask from them.
  uint8_t errorBoxes;
  uint16_t errorStatusMask;

  // Data.
  int channel;                                  // 0 = CH1, 1 = CH2
  int frameKind;                                // 0 = DATA, 1 = REMOTE
  char identifierPattern[kIdentifierBits + 1];  // bit 28 first
  uint32_t identifierValue;
  uint32_t identifierMask;
  DataByteCondition dataBytes[kDataByteFields];
  uint8_t dataConditionMask;  // bit 7 - i: data byte i has a condition
  BitPattern patterns[kPatternCount];

  // Time: bytes laid out like timeStamp (3 minutes, 2 seconds, 1 hundredths).
  char timeTexts[kTimeFields][kByteFieldLimit + 1];
  uint32_t timeValue;
  uint32_t timeMask;

  // External input.
  int extLevel;
};

// ---- Page texts ----

// Capacity of one field text. Larger than any edit limit so that a text too
// long for its field (possible from the command line) reaches validation
// intact instead of being cut to something valid.
inline constexpr size_t kFieldTextCapacity = 8;

// What the five pages show, as the dialog reads it from its controls.
struct SearchPageTexts {
  bool errorBoxes[kErrorBoxCount];  // 1025..1029
  int channel;                      // selection of 1080
  int frameKind;                    // selection of 1092
  char identifier[kIdentifierBits][kFieldTextCapacity];
  char dataBytes[kDataByteFields][kFieldTextCapacity];
  char patterns[kPatternCount][kPatternBits][kFieldTextCapacity];
  char time[kTimeFields][kFieldTextCapacity];
  char extIn[kFieldTextCapacity];  // text of 1013
};

// The pages' initial values: identifier and pattern bits "*", data bytes
// empty, time fields "00", CH1, DATA, no error box, external input "0".
SearchPageTexts InitialPageTexts();
// What the pages show when reopened: the stored condition's texts.
SearchPageTexts PageTextsFromCondition(const SearchCondition& condition);
// The buffer holding the text of an edit or combo control (identifier,
// data byte, pattern, time fields and 1013), or null for any other id.
char* FieldText(SearchPageTexts& texts, int controlId);
const char* FieldText(const SearchPageTexts& texts, int controlId);
// Copies `text` into a field buffer, cut to its capacity.
void SetFieldText(char (&field)[kFieldTextCapacity], const char* text);

// ---- Validation and reading ----

// An input error: the string to show and the control to focus. stringId 0
// means the page is valid.
struct SearchInputError {
  int stringId;
  int controlId;
  bool ok() const { return stringId == 0; }
};

// Validates the page of the given kind (only DATA and TIME have rules).
SearchInputError ValidateSearchPage(const SearchPageTexts& texts, int kind);

// Reads every page into the condition (error, data, time and external-input
// parts). Texts that would not pass validation are still read without
// reading past their ends, as happens when the dialog first opens.
void ReadSearchPages(const SearchPageTexts& texts, SearchCondition& condition);

// Dialog initialisation: the texts the pages show (the stored values when
// the restore flag is set, else the initial values), read back into the
// condition once so that it reflects what is shown; sets the restore flag.
SearchPageTexts OpenSearchPages(SearchCondition& condition);
// The tab shown on opening: the stored kind, or TRIGGER when outside 0..4.
inline int ShownSearchKind(const SearchCondition& condition) {
  return condition.kind >= 0 && condition.kind < kSearchKinds ? condition.kind : kSearchTrigger;
}

// Search button: validates the active page; when valid, reads all pages,
// stores kind, mode and direction and sets the set flag. On an input error
// the condition is left untouched.
SearchInputError StoreSearch(const SearchPageTexts& texts, int activeKind, int mode,
                             SearchDirection direction, SearchCondition& condition);
// Cancel: the pages are not read; only the set flag is cleared.
inline void CancelSearch(SearchCondition& condition) {
  condition.set = false;
}

// ---- Matching and scanning ----

// `row` when record `row` of `reader` meets the condition of `kind`, else -1
// (also for a row outside the records or a kind outside 0..4).
int32_t MatchRecord(const CaptureReader& reader, const SearchCondition& condition, int32_t row,
                    int kind);

struct SearchResult {
  int32_t row;     // mode 0: the row to select, -1 when none
  uint64_t count;  // mode 1: the number of matching rows
  int messageId;   // string to show afterwards (20036 or 20038), 0 for none
};

// Rows below `selectedRow` (from row 0 when it is -1), downward, with the
// condition's kind and mode. No wrap-around.
SearchResult FindForward(const CaptureReader& reader, const SearchCondition& condition,
                         int32_t selectedRow);
// Rows above `selectedRow`, upward to row 0; nothing when no row is selected.
SearchResult FindBackward(const CaptureReader& reader, const SearchCondition& condition,
                          int32_t selectedRow);
// Either of the two, by the condition's stored direction.
SearchResult FindInDirection(const CaptureReader& reader, const SearchCondition& condition,
                             int32_t selectedRow);

// The result message after a search: in count mode with a count above zero
// string 20038 (a printf format taking the 64-bit count), otherwise 20036.
inline int SearchResultStringId(int mode, uint64_t count) {
  return mode == kSearchCount && count > 0 ? kStringCountFormat : kStringNothingFound;
}

}  // namespace ksvw
