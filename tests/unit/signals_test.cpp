// Signal databases and their decoder: every bit layout of both byte orders
// against a bit-by-bit reference, values, multiplexing, records, the
// reader's faults, value texts and the plot's bounded series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "signals/dbc_parser.h"
#include "signals/signal_decoder.h"
#include "signals/signal_plot.h"
#include "signals/value_text.h"
#include "testsupport/capture_builder.h"

namespace ksvw::signals {
namespace {

Database Parsed(std::string_view text) {
  Database db;
  DbcError error;
  EXPECT_TRUE(ParseDbc(text, "t.dbc", db, error)) << error.Text();
  return db;
}

// The DBC bit walk itself: Intel from the start bit upwards; Motorola from
// the start bit (the value's highest bit) down through a byte and on at bit
// 7 of the next. Returns the value and the bytes the walk touched.
uint64_t ReferenceRaw(const uint8_t* data, int start, int length, bool motorola, int& bytes) {
  uint64_t v = 0;
  bytes = 0;
  for (int j = 0, pos = start; j < length; ++j) {
    bytes = std::max(bytes, pos / 8 + 1);
    const uint64_t bit = pos / 8 < 8 ? (data[pos / 8] >> (pos % 8)) & 1 : 0;
    if (motorola) {
      v = v << 1 | bit;
      pos = pos % 8 == 0 ? pos + 15 : pos - 1;
    } else {
      v |= bit << j;
      ++pos;
    }
  }
  return v;
}

TEST(SignalLayout, EveryStartAndLengthOfBothByteOrdersMatchesTheBitWalk) {
  Database db;
  for (ByteOrder order : {ByteOrder::Intel, ByteOrder::Motorola}) {
    for (uint16_t start = 0; start < 64; ++start) {
      for (uint16_t length = 1; length <= 64; ++length) {
        Message m;
        m.id = static_cast<uint32_t>(db.messages.size());
        m.extended = true;
        for (ValueType type : {ValueType::Unsigned, ValueType::Signed}) {
          Signal s;
          s.startBit = start;
          s.length = length;
          s.order = order;
          s.type = type;
          m.signals.push_back(s);
        }
        db.messages.push_back(m);
      }
    }
  }
  db.Finalise();
  uint8_t data[8];
  SignalValue values[2];
  for (const Message& m : db.messages) {
    const Signal& s = m.signals[0];
    for (uint32_t seed : {1u, 0xA5u, 0xFFu}) {
      for (int i = 0; i < 8; ++i) data[i] = static_cast<uint8_t>(seed * (i + 7) * 37 + m.id);
      int bytes = 0;
      const uint64_t want =
          ReferenceRaw(data, s.startBit, s.length, s.order == ByteOrder::Motorola, bytes);
      const uint64_t sign = uint64_t{1} << (s.length - 1);
      const auto wantSigned = static_cast<int64_t>((want ^ sign) - sign);
      int beyond = 0;
      const int count = DecodeMessage(m, data, std::min(bytes, 8), values, beyond);
      SCOPED_TRACE(testing::Message() << (s.order == ByteOrder::Intel ? "@1" : "@0") << " start "
                                      << s.startBit << " length " << s.length);
      if (bytes > 8) {
        EXPECT_EQ(count + beyond * 10, 20) << "bits beyond any CAN frame";
        continue;
      }
      ASSERT_EQ(count, 2);
      EXPECT_EQ(values[0].raw, want);
      EXPECT_EQ(values[0].value, static_cast<double>(want));
      EXPECT_EQ(SignedRaw(values[1]), wantSigned);
      EXPECT_EQ(values[1].value, static_cast<double>(wantSigned));
      // One byte short of the last bit: counted, not decoded.
      beyond = 0;
      EXPECT_EQ(DecodeMessage(m, data, bytes - 1, values, beyond) + beyond * 10, 20);
    }
  }
}

TEST(SignalValues, FloatsScalingAndNoFusedMultiplyAdd) {
  const Database db = Parsed(
      "BO_ 1 F: 4 N\n SG_ F32 : 0|32@1+ (2,1) [0|0] \"\" N\n"
      "BO_ 2 D: 8 N\n SG_ F64 : 7|64@0- (1,0) [0|0] \"\" N\n"
      "BO_ 3 P: 4 N\n"
      " SG_ Tenth : 0|8@1+ (0.1,-0.3) [0|0] \"\" N\n"
      " SG_ S12 : 19|12@0- (0.5,0) [0|0] \"\" N\n"
      "SIG_VALTYPE_ 1 F32 : 1;\nSIG_VALTYPE_ 2 F64 : 2;\n");
  struct Case {
    uint32_t id;
    std::vector<uint8_t> data;
    std::vector<double> values;
  };
  const Case cases[] = {
      {1, {0x00, 0x00, 0xAC, 0x41}, {44}},           // 21.5f little-endian, * 2 + 1
      {2, {0xBF, 0xF4, 0, 0, 0, 0, 0, 0}, {-1.25}},  // a big-endian double
      // 3 * 0.1 rounds to 0.30000000000000004 before -0.3 is added; a fused
      // multiply-add would give 2.7755575615628914e-17. 0xFFF is -1.
      {3, {3, 0, 0x0F, 0xFF}, {5.551115123125783e-17, -0.5}},
  };
  for (const Case& c : cases) {
    const Message* m = db.Find(Bus::Can, c.id, false);
    ASSERT_NE(m, nullptr);
    SignalValue v[2];
    int beyond = 0;
    ASSERT_EQ(DecodeMessage(*m, c.data.data(), static_cast<int>(c.data.size()), v, beyond),
              static_cast<int>(c.values.size()));
    for (size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(v[i].value, c.values[i]) << c.id;
  }
}

TEST(SignalValues, MultiplexedSignalsFollowTheirSwitches) {
  // Mode switches SubMode and A (m1) or B (m2); SubMode switches C over
  // the ranges 5-6 and 9.
  const Database db = Parsed(
      "BO_ 768 Diag: 4 N\n"
      " SG_ C m5 : 24|8@1+ (1,0) [0|0] \"\" N\n"
      " SG_ Mode M : 0|8@1+ (1,0) [0|0] \"\" N\n"
      " SG_ SubMode m1M : 8|8@1+ (1,0) [0|0] \"\" N\n"
      " SG_ A m1 : 16|8@1+ (1,0) [0|0] \"\" N\n"
      " SG_ B m2 : 16|8@1+ (1,0) [0|0] \"\" N\n"
      "SG_MUL_VAL_ 768 C SubMode 5-6, 9-9;\n"
      "SG_MUL_VAL_ 768 SubMode Mode 1-1;\n");
  const Message& m = *db.Find(Bus::Can, 768, false);
  struct Case {
    std::vector<uint8_t> data;
    const char* present;
    int beyond;
  };
  const Case cases[] = {
      {{1, 5, 0, 0}, "C Mode SubMode A", 0},  // the database's order
      {{1, 6, 0, 0}, "C Mode SubMode A", 0},
      {{1, 7, 0, 0}, "Mode SubMode A", 0},
      {{1, 9, 0}, "Mode SubMode A", 1},  // C is present but its byte is missing
      {{2, 5, 0, 0}, "Mode B", 0},
      {{1}, "Mode", 2},  // SubMode and A lie beyond; C hangs on SubMode
      {{3, 5, 0, 0}, "Mode", 0},
  };
  for (const Case& c : cases) {
    SignalValue v[5];
    int beyond = 0;
    const int n = DecodeMessage(m, c.data.data(), static_cast<int>(c.data.size()), v, beyond);
    std::string names;
    for (int i = 0; i < n; ++i) names += (i ? " " : "") + m.signals[v[i].signal].name;
    EXPECT_EQ(names, c.present) << "mode " << int(c.data[0]);
    EXPECT_EQ(beyond, c.beyond) << "mode " << int(c.data[0]);
  }
}

TEST(SignalRecords, OnlyDataFramesOfKnownIdentifiersAreDecoded) {
  const Database one = Parsed("BO_ 291 Std: 1 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n");
  const Database two = Parsed("BO_ 2147483939 Ext: 1 N\n SG_ X : 0|8@1+ (1,0) [0|0] \"\" N\n");
  SignalDecoder decoder;
  decoder.SetDatabase(1, &one);
  decoder.SetDatabase(2, &two);
  struct Case {
    CaptureRecord record;
    FrameOutcome outcome;
    const char* message;
  };
  const Case cases[] = {
      {build::CanData(1, 0x123, false, {7}), FrameOutcome::Decoded, "Std"},
      {build::CanData(1, 0x123, true, {7}), FrameOutcome::NotInDatabase, ""},
      {build::CanData(2, 0x123, true, {7}), FrameOutcome::Decoded, "Ext"},
      {build::CanData(2, 0x123, false, {7}), FrameOutcome::NotInDatabase, ""},
      {build::CanRemoteFrame(1, 0x123, false, 1), FrameOutcome::NotDecoded, ""},
      {build::Lin(1, 0x55, 0, 0x23, 0, 2, {7, 1}), FrameOutcome::NotDecoded, ""},
      {build::Marker(kSourceOverrun, 0), FrameOutcome::NotDecoded, ""},
  };
  FrameSignals out;
  for (const Case& c : cases) {
    EXPECT_EQ(decoder.Decode(c.record, out), c.outcome);
    EXPECT_EQ(out.message ? out.message->name : "", c.message);
    if (out.message != nullptr) {
      EXPECT_EQ(out.values[0].value, 7);
    }
  }
}

TEST(DbcReader, FaultsNameLineColumnAndTextAndLoadNothing) {
  const std::string head = "BO_ 100 M: 2 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n";
  struct Case {
    std::string text;
    int line, column;
    const char* message;
    const char* found;
  } const cases[] = {
      {"# comment\n", 1, 1, "expected a keyword", "#"},
      {" SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n", 1, 2, "SG_ outside a message", "SG_"},
      {"BO_ 2048 M: 8 N\n", 1, 5, "standard identifier above 0x7FF", "2048"},
      {"BO_ 1 M: 1\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n", 2, 2, "sending node", "SG_"},
      {head + "BO_ 100 M2: 8 N\n", 3, 5, "defined twice", "100"},
      {head + " SG_ S : 8|8@1+ (1,0) [0|0] \"\" N\n", 3, 6, "defined twice", "S"},
      {"BO_ 1 M: 1 N\n SG_ S : 4|8@1+ (1,0) [0|0] \"\" N\n", 2, 10, "past the message's 1", "4"},
      {"BO_ 1 M: 1 N\n SG_ S : 3|5@0+ (1,0) [0|0] \"\" N\n", 2, 10, "past the message's 1", "3"},
      {"BO_ 1 M: 1 N\n SG_ S : 0|0@1+ (1,0) [0|0] \"\" N\n", 2, 10, "0 bits", "0"},
      {"BO_ 1 M: 1 N\n SG_ S : 0|8@2+ (1,0) [0|0] \"\" N\n", 2, 14, "0 (Motorola) or 1", "2"},
      {"BO_ 1 M: 1 N\n SG_ S : 0|8@1+ (1e999,0) [0|0] \"\" N\n", 2, 18, "out of range", "1e999"},
      {"BO_ 1 M: 1 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"unit N\n", 2, 29, "never closed", "\"unit N"},
      {"BO_ 1 M: 1 N\n SG_ S m1 : 0|8@1+ (1,0) [0|0] \"\" N\n", 2, 2, "without a switch", "SG_"},
      {head + "VAL_ 101 S 1 \"a\";\n", 3, 6, "no message has", "101"},
      {head + "VAL_ 100 T 1 \"a\";\n", 3, 10, "no signal of this name", "T"},
      {head + "VAL_ 100 S 1 \"a\" 1 \"b\";\n", 3, 18, "described twice", "1"},
      {head + "SIG_VALTYPE_ 100 S : 1;\n", 3, 22, "needs 32 bits, the signal has 8", "1"},
      {head + "CM_ SG_ 100 S \"x\" ;\nCM_ BO_ 100 x;\n", 4, 13, "expected a comment", "x"},
      {head + "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 10\nBO_ 1 N: 1 N\n", 4, 1,
       "expected ';' to end the BA_DEF_ statement of line 3", "BO_"},
      {head + "BA_DEF_DEF_ \"x\" 0", 3, 18, "expected ';'", "end of file"},
      {"BO_ 1 M: 2 N\n SG_ A M : 0|8@1+ (1,0) [0|0] \"\" N\n SG_ B m1M : 8|8@1+ (1,0) [0|0] "
       "\"\" N\nSG_MUL_VAL_ 1 A B 1-1;\nSG_MUL_VAL_ 1 B A 1-1;\n",
       4, 15, "this signal is not multiplexed", "A"},
      {"BO_ 1 M: 2 N\n SG_ A m2M : 0|8@1+ (1,0) [0|0] \"\" N\n SG_ B m1M : 8|8@1+ (1,0) [0|0] "
       "\"\" N\nSG_MUL_VAL_ 1 A B 1-1;\nSG_MUL_VAL_ 1 B A 3-2;\n",
       5, 19, "end lies below its start", "3"},
      {"BO_ 1 M: 2 N\n SG_ A m2M : 0|8@1+ (1,0) [0|0] \"\" N\n SG_ B m1M : 8|8@1+ (1,0) [0|0] "
       "\"\" N\nSG_MUL_VAL_ 1 A B 1-1;\nSG_MUL_VAL_ 1 B A 1-1;\n",
       5, 17, "depend on each other", "A"},
      {"BO_ 1 " + std::string(129, 'n') + ": 1 N\n", 1, 7, "longer than 128", "nnnnnnnn"},
      {"BU_: A" + std::string(2, '\0') + "\n", 1, 7, "expected a node name", "?"},
  };
  for (const Case& c : cases) {
    Database db = Parsed("BO_ 9 Kept: 0 N\n");
    DbcError error;
    EXPECT_FALSE(ParseDbc(c.text, "bad.dbc", db, error)) << c.text;
    EXPECT_EQ(error.line * 1000 + error.column, c.line * 1000 + c.column) << error.Text();
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.Text();
    EXPECT_EQ(error.found.substr(0, std::strlen(c.found)), c.found) << error.Text();
    EXPECT_EQ(error.Text().rfind("bad.dbc:", 0), 0u);
    ASSERT_EQ(db.messages.size(), 1u) << "a failed read changed the database";
    EXPECT_EQ(db.messages[0].name, "Kept");
  }
  std::string many = "BO_ 1 M: 8 N\n";
  for (size_t i = 0; i <= kDbcMaxSignalsPerMessage; ++i)
    many.append(" SG_ S").append(std::to_string(i)).append(" : 0|1@1+ (1,0) [0|0] \"\" N\n");
  Database db;
  DbcError error;
  EXPECT_FALSE(ParseDbc(many, "many.dbc", db, error));
  EXPECT_EQ(error.message, "too many signals");
  EXPECT_EQ(error.line, static_cast<int>(kDbcMaxSignalsPerMessage) + 2);
}

TEST(SignalTexts, ValuesReadBackAndFieldsAreQuoted) {
  for (double v : {0.0, -0.0, 3.0, -40.0, 0.1, 1e-7, 123456.789, 1e21, 9007199254740992.0,
                   -1.25e300, 5e-324}) {
    char text[kValueTextCapacity];
    const char* end = FormatValue(text, v);
    EXPECT_EQ(std::strtod(text, nullptr), v) << text;
    EXPECT_EQ(std::strlen(text), static_cast<size_t>(end - text));
    if (v == std::trunc(v) && std::fabs(v) < 9007199254740992.0) {
      EXPECT_EQ(std::strpbrk(text, ".e"), nullptr) << text;
    }
  }
  char text[kValueTextCapacity];
  FormatValue(text, 1e6);
  EXPECT_STREQ(text, "1000000");
  FormatValue(text, -std::numeric_limits<double>::infinity());
  EXPECT_STREQ(text, "-inf");
  EXPECT_EQ(CsvField("km/h"), "km/h");
  EXPECT_EQ(CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
  EXPECT_EQ(CsvField(" x"), "\" x\"");
  for (auto [pattern, text, match] : {std::tuple{"Engine*", "EngineSpeed", true},
                                      {"*Speed", "EngineSpeed", true},
                                      {"E?gine*d", "EngineSpeed", true},
                                      {"*Temp", "TempX", false},
                                      {"", "x", false}}) {
    EXPECT_EQ(GlobMatch(pattern, text), match) << pattern << " " << text;
  }
}

TEST(PlotSeries, AMillionValuesKeepBoundedBucketsWithTheirExtremes) {
  Signal signal;
  PlotSeries series("M.S", &signal);
  for (uint64_t t = 0; t < 1000000; ++t)
    series.Add(t, static_cast<double>(t % 1000) - (t == 777777 ? 5000 : 0));
  const auto& b = series.Buckets();
  ASSERT_LE(b.size(), kPlotMaxBuckets);
  ASSERT_GT(b.size(), kPlotMaxBuckets / 2);
  EXPECT_EQ(b.front().firstTicks, 0u);
  EXPECT_EQ(b.back().lastTicks, 999999u);
  EXPECT_EQ(b.back().last, 999);
  double low = 0, high = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    low = std::min(low, b[i].low);
    high = std::max(high, b[i].high);
    if (i > 0) {
      EXPECT_GT(b[i].firstTicks, b[i - 1].lastTicks);
    }
  }
  EXPECT_EQ(low, -5000 + 777);
  EXPECT_EQ(high, 999);
}

}  // namespace
}  // namespace ksvw::signals
