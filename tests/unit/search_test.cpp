// Search and jump: validation of the dialog's pages in the order the user
// meets the fields, reading them into the condition, the per-kind record test
// and the directed scans with their result messages.
#include "capture/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/search_check.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

using build::CanData;
using build::Lin;
using build::TimeStamp;

struct Loaded {
  CaptureReader reader;
  Loaded(const std::vector<CaptureRecord>& records, uint32_t tag) {
    std::vector<uint8_t> file = build::CaptureFileBuilder().Data(tag, records).Build();
    EXPECT_TRUE(reader.LoadCopy(file.data(), file.size()));
  }
};

// DATA page texts: data byte fields in order (the rest empty), W0..W2 rows
// and the identifier as 29 characters.
SearchPageTexts DataTexts(std::initializer_list<const char*> bytes, const char* w0 = "********",
                          const char* id = "*****************************") {
  SearchPageTexts t = InitialPageTexts();
  int i = 0;
  for (const char* b : bytes) SetFieldText(t.dataBytes[i++], b);
  for (int k = 0; k < kPatternBits; ++k) t.patterns[0][k][0] = w0[k];
  for (int k = 0; k < kIdentifierBits; ++k) t.identifier[k][0] = id[k];
  return t;
}

SearchPageTexts TimeTexts(const char* mm, const char* ss, const char* hh) {
  SearchPageTexts t = InitialPageTexts();
  SetFieldText(t.time[0], mm);
  SetFieldText(t.time[1], ss);
  SetFieldText(t.time[2], hh);
  return t;
}

SearchCondition Stored(const SearchPageTexts& texts, int kind, int mode = kSearchCount) {
  SearchCondition c{};
  SearchInputError e = StoreSearch(texts, kind, mode, SearchDirection::Down, c);
  EXPECT_TRUE(e.ok()) << e.stringId << " at " << e.controlId;
  return c;
}

// Rows that match, collected one by one through MatchRecord.
std::vector<int32_t> Matches(const Loaded& l, const SearchCondition& c) {
  std::vector<int32_t> rows;
  for (int32_t r = 0; r < l.reader.RecordCount(); ++r) {
    if (MatchRecord(l.reader, c, r, c.kind) == r) rows.push_back(r);
  }
  return rows;
}

using Rows = std::vector<int32_t>;

// ---- Validation ----

// Each case edits the initial pages (control id, text) and validates the
// page of its kind: the first bad field in the order the user meets them is
// named, or none (0, 0).
TEST(SearchValidation, FirstBadFieldOfThePage) {
  const int d = kSearchData, t = kSearchTime, e = 20048, b = 20056, m = 20049;
  const struct {
    int kind;
    const char* edits;  // "control id=text|..."
    int stringId, controlId;
  } cases[] = {
      // clang-format off
      // The initial pages are valid for every kind.
      {kSearchTrigger, "", 0, 0}, {kSearchError, "", 0, 0}, {d, "", 0, 0}, {t, "", 0, 0},
      {kSearchExtInput, "", 0, 0},
      // Data byte forms: two upper-case hex digits, "*" (optionally with a
      // blank), W0..W2.
      {d, "1067=12", 0, 0},  {d, "1067=AF", 0, 0},  {d, "1067=*", 0, 0},   {d, "1067=* ", 0, 0},
      {d, "1067=W0", 0, 0},  {d, "1067=W2", 0, 0},
      {d, "1067=1", e, 1067},  {d, "1067=1a", e, 1067},  {d, "1067=af", e, 1067},
      {d, "1067=W3", e, 1067}, {d, "1067=w0", e, 1067},  {d, "1067=*1", e, 1067},
      {d, "1067=123", e, 1067}, {d, "1067=G0", e, 1067}, {d, "1067= 1", e, 1067},
      // No data byte may follow an empty one.
      {d, "1067=12|1069=34", e, 1069}, {d, "1067=12|1068=*|1069=W0", 0, 0},
      // A bad (or empty) identifier bit is reported before any data byte.
      {d, "1067=zz|1041=2", b, 1041},  {d, "1067=zz|1041=", b, 1041},
      // D0 comes before bit 7 of the patterns; bit 7 of W1 before D1 and W0 bit 6.
      {d, "1067=zz|1068=zz|1083=x", e, 1067}, {d, "1067=12|1068=zz|1099=x|1084=x", b, 1099},
      // Last field of all: bit 0 of W2. Only the active page is validated.
      {d, "1114=2", b, 1114}, {kSearchTrigger, "1114=2", 0, 0},
      // Minutes and seconds take a tens digit 0..5, hundredths any digit; two
      // characters each.
      {t, "1075=6*", m, 1075}, {t, "1076=60", m, 1076},  {t, "1077=A0", m, 1077},
      {t, "1075=", m, 1075},   {t, "1075=5", m, 1075},   {t, "1076=000", m, 1076},
      {t, "1077=9", m, 1077},
      {t, "1075=**|1076=5*|1077=9*", 0, 0}, {t, "1075=*9|1076=*9|1077=99", 0, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SearchPageTexts texts = InitialPageTexts();
    std::istringstream edits(c.edits);
    for (std::string edit; std::getline(edits, edit, '|');) {
      const char* text = edit.c_str() + edit.find('=') + 1;
      std::snprintf(FieldText(texts, std::stoi(edit)), kFieldTextCapacity, "%s", text);
    }
    SearchInputError error = ValidateSearchPage(texts, c.kind);
    EXPECT_EQ(error.stringId, c.stringId) << "case " << &c - cases;
    EXPECT_EQ(error.controlId, c.controlId) << "case " << &c - cases;
  }
}

// ---- Reading ----

TEST(SearchReading, ShortTextsReadWithoutValidation) {
  SearchPageTexts t = TimeTexts("", "7", "00");
  SetFieldText(t.dataBytes[0], "F");
  SetFieldText(t.extIn, "1");
  SearchCondition c{};
  ReadSearchPages(t, c);
  EXPECT_EQ(c.timeValue, 0x00460000u);  // a missing units digit reads as 0
  EXPECT_TRUE(c.dataBytes[0].exact);
  EXPECT_EQ(c.dataBytes[0].value, 0x0F);
  EXPECT_EQ(c.extLevel, 1);
}

// The pages show `want`: every field text, box and selection.
void ExpectShown(const SearchPageTexts& shown, const SearchPageTexts& want) {
  for (int id = 1000; id < 1200; ++id) {
    if (!FieldText(want, id)) continue;
    EXPECT_STREQ(FieldText(shown, id), FieldText(want, id)) << id;
  }
  EXPECT_TRUE(std::equal(want.errorBoxes, want.errorBoxes + kErrorBoxCount, shown.errorBoxes));
  EXPECT_EQ(shown.channel, want.channel);
  EXPECT_EQ(shown.frameKind, want.frameKind);
}

TEST(SearchReading, OpenRestoreAndCancel) {
  SearchCondition c{};
  ExpectShown(OpenSearchPages(c), InitialPageTexts());
  EXPECT_TRUE(c.restore);
  EXPECT_EQ(c.timeMask, 0xFFFFFF00u);
  EXPECT_EQ(c.identifierMask, 0u);
  EXPECT_EQ(c.kind, kSearchTrigger);

  SearchPageTexts t = DataTexts({"12", "W1"}, "0*******", "1****************************");
  SetFieldText(t.time[1], "4*");
  t.errorBoxes[2] = true;
  t.frameKind = 1;
  t.channel = 1;
  SetFieldText(t.extIn, "1");
  ASSERT_TRUE(StoreSearch(t, kSearchData, kSearchCount, SearchDirection::Up, c).ok());
  EXPECT_TRUE(c.set);
  // An input error leaves the stored condition alone (the reopened pages below).
  SearchPageTexts bad = DataTexts({"1"});
  EXPECT_EQ(StoreSearch(bad, kSearchData, kSearchSelectFirst, SearchDirection::Down, c).controlId,
            1067);
  EXPECT_EQ(c.mode, kSearchCount);
  EXPECT_EQ(c.direction, SearchDirection::Up);

  // Reopening shows what was stored; Cancel after edits keeps it.
  ExpectShown(OpenSearchPages(c), t);
  EXPECT_EQ(ShownSearchKind(c), kSearchData);
  CancelSearch(c);
  EXPECT_FALSE(c.set);
  EXPECT_EQ(c.kind, kSearchData);
  EXPECT_EQ(c.dataBytes[0].value, 0x12);
}

TEST(SearchReading, FieldTextByControlId) {
  SearchPageTexts t = InitialPageTexts();
  const std::pair<int, const char*> fields[] = {
      {1037, t.identifier[0]},  {1041, t.identifier[3]},  {1066, t.identifier[28]},
      {1069, t.dataBytes[2]},   {1090, t.patterns[0][7]}, {1099, t.patterns[1][0]},
      {1114, t.patterns[2][7]}, {1076, t.time[1]},        {1013, t.extIn},
      {1040, nullptr},          {1091, nullptr}};
  for (auto [id, field] : fields) EXPECT_EQ(FieldText(t, id), field) << id;
}

// ---- Record tests ----

template <typename Edit>
SearchPageTexts Edited(SearchPageTexts t, Edit edit) {
  edit(t);
  return t;
}

SearchPageTexts ErrorBoxes(std::initializer_list<int> boxes) {
  SearchPageTexts t = InitialPageTexts();
  for (int b : boxes) t.errorBoxes[b] = true;
  return t;
}

TEST(SearchMatch, RowsMeetingEachCondition) {
  const std::vector<CaptureRecord> errors = {
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x0002),  // parity error
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x0010),  // data byte 2 error
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x0800),  // error code 1 only
      Lin(2, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x4000),  // error code 8 only
      build::WithStatus(CanData(1, 1, false, {}), 0x7FFF),
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0),
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x1000),   // error code 2 only
      Lin(1, 0x55, 0, 0x80, 0, 3, {1, 2, 3}, 0x2000)};  // error code 4 only
  // Kind 0x80 with a negative count: a DATA frame, but no data to compare.
  const std::vector<CaptureRecord> canKinds = {
      build::Record({.count = -1, .kind = 0x80, .data = {}}), build::CanRemoteFrame(1, 1, false, 4),
      CanData(1, 1, false, {1})};
  // Rows 6 and 7 are on CH2.
  const std::vector<CaptureRecord> ids = {
      CanData(1, 0x123, false, {}),       CanData(1, (0x123u << 18) | 0x3FFFF, true, {}),
      CanData(1, 0x123u << 18, true, {}), CanData(1, 0x124, false, {}),
      CanData(1, 0x123, true, {}),        Lin(1, 0x55, 0, 0x80, 0, 1, {0}),
      CanData(2, 0x123, false, {}),       Lin(2, 0x55, 0, 0x80, 0, 1, {0})};
  CaptureRecord shortFrame = CanData(1, 1, false, {0x12, 0x00});
  shortFrame.raw[16 + 2] = 0x80;  // beyond count, still compared for CAN
  const std::vector<CaptureRecord> bytes = {
      CanData(1, 1, false, {0x12, 0x00, 0x80}), CanData(1, 1, false, {0x12, 0xFF, 0xFF, 0x01}),
      CanData(1, 1, false, {0x12, 0x00, 0x7F}), CanData(1, 1, false, {0x13, 0x00, 0x80}),
      CanData(1, 1, false, {0x12, 0x00}),       shortFrame};
  std::vector<CaptureRecord> times;
  for (uint32_t ts :
       {TimeStamp(12, 29, 99, 49), TimeStamp(12, 30, 0, 0), TimeStamp(12, 39, 99, 49),
        TimeStamp(12, 40, 0, 0), TimeStamp(13, 35, 0, 0), TimeStamp(12, 34, 56, 49)}) {
    times.push_back(CanData(1, 1, false, {}, ts));
  }
  const SearchPageTexts remoteFF = Edited(DataTexts({"FF"}), [](auto& t) { t.frameKind = 1; });
  const SearchPageTexts d7 = DataTexts({"*", "*", "*", "*", "*", "*", "*", "W0"}, "0*******");
  // D0 exact, D1 "* " (no condition) and D2 through W2, whose bit 0 is set.
  const SearchPageTexts w2 =
      Edited(DataTexts({"12", "* ", "W2"}), [](auto& t) { SetFieldText(t.patterns[2][7], "1"); });
  const char* const id123 = "00100100011******************";
  const char* const idBit0 = "****************************1";
  const struct {
    const std::vector<CaptureRecord>& records;
    uint32_t tag;
    SearchPageTexts texts;
    int kind;
    Rows rows;
  } cases[] = {
      // Each box selects LIN status bits: 1025..1028 one error code each,
      // 1029 the eleven detail bits.
      {errors, kTagMdcl, ErrorBoxes({0}), kSearchError, {2}},
      {errors, kTagMdcl, ErrorBoxes({1}), kSearchError, {6}},
      {errors, kTagMdcl, ErrorBoxes({2}), kSearchError, {7}},
      {errors, kTagMdcl, ErrorBoxes({3}), kSearchError, {3}},
      {errors, kTagMdcl, ErrorBoxes({4}), kSearchError, {0, 1}},
      // With a data byte condition remote frames and negative counts are out.
      {canKinds, kTagMonc, d7, kSearchData, {2}},
      {canKinds, kTagMonc, remoteFF, kSearchData, {1}},
      {ids, kTagMdcl, DataTexts({}, "********", id123), kSearchData, {0, 1, 2}},
      // A LIN protected identifier sits in bits 21..28: 0x80 sets bit 28.
      {ids, kTagMdcl, DataTexts({}, "********", "10000000*********************"), kSearchData, {5}},
      {ids, kTagMdcl, DataTexts({}, "********", idBit0), kSearchData, {1, 4}},
      {bytes, kTagMonc, DataTexts({"12", "*", "W0"}, "1*******"), kSearchData, {0, 1, 5}},
      {bytes, kTagMonc, w2, kSearchData, {1, 2}},
      {times, kTagMonc, TimeTexts("12", "3*", "**"), kSearchTime, {1, 2, 5}},
      {times, kTagMonc, TimeTexts("**", "00", "00"), kSearchTime, {0, 1, 2, 3, 4, 5}},
      {times, kTagMonc, TimeTexts("12", "34", "56"), kSearchTime, {5}},
      // A units wildcard ends the comparison once its field is in range.
      {times, kTagMonc, TimeTexts("1*", "59", "99"), kSearchTime, {0, 1, 2, 3, 4, 5}},
      {times, kTagMonc, TimeTexts("12", "*0", "00"), kSearchTime, {0, 1, 2, 3, 5}},
  };
  for (const auto& c : cases) {
    Loaded l(c.records, c.tag);
    EXPECT_EQ(Matches(l, Stored(c.texts, c.kind)), c.rows) << "case " << &c - cases;
  }
}

// The fast matcher against the plain reading of the rules (the search fuzz
// target's check), seeded, over records whose source, count, kind and bytes
// come from small sets so that every shape and many matches occur.
TEST(SearchMatch, MatcherAgreesWithTheRecordDecoder) {
  std::mt19937 random(19);
  auto pick = [&](std::initializer_list<int> values) {
    return static_cast<uint8_t>(values.begin()[random() % values.size()]);
  };
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> input(searchcheck::kConditionBytes);
    for (uint8_t& b : input) b = static_cast<uint8_t>(random());
    for (int i = 5; i < 13; ++i) input[i] = pick({0x00, 0x00, 0x12, 0x80, 0xFF});  // identifier
    input[13] = pick({0x00, 0x80, 0xFF, 0x3C});  // data-condition mask
    for (int i = 15; i < 23; ++i) input[i] = pick({0x00, 0x12, 0xFF, 1, 2, 3});
    for (int i = 29; i < 32; ++i) input[i] = pick({0x08, 0x09, 0x12, 0x76, 0x80});  // time
    for (int r = 0; r < 64; ++r) {
      uint8_t raw[kRecordSize];
      for (uint8_t& b : raw) b = pick({0x00, 0x12, 0xFF, 0x80});
      raw[0] = pick({0, 1, 1, 2, 2, 3, 4, 5, 0x40, 0x41, 0xFF});
      raw[10] = pick({0xFC, 0xFD, 0xFE, 0xFF, 0, 1, 2, 3, 8, 9, 0x7F});
      raw[11] = pick({0, 2, 8, 0x40, 0x48, 0x80, 0x88, 0xC0, 0x41});
      input.insert(input.end(), raw, raw + kRecordSize);
    }
    EXPECT_EQ(searchcheck::CheckSearchInput(input.data(), input.size()), "") << "round " << round;
  }
}

// ---- Scans ----

// 20 records, trigger marks on rows 3, 7, 12 and 19 (and 0 with `atZero`).
std::vector<CaptureRecord> Marked(bool atZero) {
  std::vector<CaptureRecord> records;
  for (int i = 0; i < 20; ++i) {
    bool trigger = (i == 0 && atZero) || i == 3 || i == 7 || i == 12 || i == 19;
    records.push_back(build::WithLineFlags(CanData(1, 1, false, {}), trigger ? 0x80 : 0));
  }
  return records;
}

TEST(SearchScan, DirectedScansWithoutWrapAround) {
  const Loaded marked(Marked(false), kTagMdcl), atZero(Marked(true), kTagMdcl), none({}, kTagMdcl);
  const SearchResult kNothing = {-1, 0, 20036};
  const struct {
    const Loaded& l;
    bool count, up;
    int32_t from;
    SearchResult result;
  } cases[] = {{marked, false, false, 19, kNothing},     {marked, false, true, -1, kNothing},
               {marked, false, true, 12, {7, 0, 0}},     {marked, true, false, 10, {-1, 2, 20038}},
               {marked, true, true, 10, {-1, 2, 20038}}, {marked, true, false, 19, kNothing},
               {atZero, false, false, -1, {0, 0, 0}},    {none, true, true, 5, kNothing}};
  for (const auto& c : cases) {
    SearchCondition condition =
        Stored(InitialPageTexts(), kSearchTrigger, c.count ? kSearchCount : kSearchSelectFirst);
    condition.direction = c.up ? SearchDirection::Up : SearchDirection::Down;
    SearchResult r = FindInDirection(c.l.reader, condition, c.from);
    SearchResult direct = c.up ? FindBackward(c.l.reader, condition, c.from)
                               : FindForward(c.l.reader, condition, c.from);
    EXPECT_EQ(c.count ? -1 : r.row, c.result.row) << "case " << &c - cases;
    EXPECT_EQ(c.count ? r.count : 0, c.result.count) << "case " << &c - cases;
    EXPECT_EQ(r.messageId, c.result.messageId) << "case " << &c - cases;
    EXPECT_EQ(direct.row, r.row);
    EXPECT_EQ(direct.count, r.count);
  }
}

TEST(SearchScan, MatchRecordBounds) {
  const Loaded l(Marked(false), kTagMdcl);
  const SearchCondition c = Stored(InitialPageTexts(), kSearchTrigger);
  EXPECT_EQ(MatchRecord(l.reader, c, 19, kSearchTrigger), 19);
  EXPECT_EQ(MatchRecord(l.reader, c, 20, kSearchTrigger), -1);
  EXPECT_EQ(MatchRecord(l.reader, c, -1, kSearchTrigger), -1);
}

}  // namespace
}  // namespace ksvw
