// Time differences between records and the LIN status letter: the digit
// borrows and error codes the sample captures of tests/data do not hold
// (their every record shape is compared byte for byte by
// tests/cli/sample_outputs_test.sh).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture/capture_record.h"

namespace ksvw {
namespace {

// Time stamp from minutes, seconds, hundredths and the raw fifths byte.
uint32_t Ts(int minutes, int seconds, int hundredths, int fifths) {
  return static_cast<uint32_t>(minutes) << 24 | static_cast<uint32_t>(seconds) << 16 |
         static_cast<uint32_t>(hundredths) << 8 | static_cast<uint32_t>(fifths);
}

TEST(TimeDifference, EachDigitBorrowsFromTheNextModuloOneHour) {
  struct {
    uint32_t current, previous;
    const char* difference;  // minutes:seconds:hundredths,millisecond digit
  } cases[] = {
      // clang-format off
      {Ts(0, 0, 0, 0), Ts(0, 0, 0, 0), "0:0:0,0"},
      {Ts(12, 34, 56, 35), Ts(12, 34, 56, 10), "0:0:0,5"},
      {Ts(0, 1, 10, 0), Ts(0, 0, 50, 0), "0:0:60,0"},  // hundredths borrow a second
      {Ts(1, 0, 0, 0), Ts(0, 59, 99, 45), "0:0:0,1"},
      {Ts(5, 10, 20, 15), Ts(3, 40, 50, 30), "1:29:69,7"},
      {Ts(2, 0, 0, 0), Ts(1, 0, 0, 0), "1:0:0,0"},
      // Across the hour wrap: 59:59:99 and 9 (fifths 45 to 49) to 00:00:00 and 0.
      {Ts(0, 0, 0, 0), Ts(59, 59, 99, 45), "0:0:0,1"},
      {Ts(0, 0, 0, 4), Ts(59, 59, 99, 49), "0:0:0,1"},
      // Earlier than the previous record: taken as across the wrap.
      {Ts(9, 59, 99, 45), Ts(10, 0, 0, 0), "59:59:99,9"},
      // Millisecond digits are cut before subtracting: fifths 9 and 5 are
      // both digit 1; fifths 10 and 9 are digits 2 and 1.
      {Ts(0, 0, 0, 9), Ts(0, 0, 0, 5), "0:0:0,0"},
      {Ts(0, 0, 0, 10), Ts(0, 0, 0, 9), "0:0:0,1"},
      // Damaged bytes are subtracted as they are, with one borrow each.
      {Ts(255, 255, 255, 255), Ts(0, 0, 0, 0), "255:255:255,51"},
      {Ts(0, 0, 0, 0), Ts(255, 255, 255, 255), "-196:-196:-156,-41"},
      // clang-format on
  };
  for (const auto& c : cases) {
    TimeParts t = TimeDifference(c.current, c.previous);
    EXPECT_EQ(std::to_string(t.minutes) + ":" + std::to_string(t.seconds) + ":" +
                  std::to_string(t.hundredths) + "," + std::to_string(t.millis),
              c.difference);
  }
}

// A LIN record (channel 1) with the given shape; `code` is the error code
// of status bits 11 and up.
CaptureRecord Lin(uint8_t kind, int8_t count, int code = 0, uint16_t flags = 0) {
  CaptureRecord r{};
  r.raw[0] = kSourceLin1;
  StoreLE16(r.raw + 2, static_cast<uint16_t>(code << 11 | flags));
  r.raw[10] = static_cast<uint8_t>(count);
  r.raw[11] = kind;
  return r;
}

TEST(LinRecordDecoding, StatusLetter) {
  struct {
    uint8_t kind;
    int8_t count;
    int code;
    uint16_t flags;
    char letter;
  } cases[] = {
      // clang-format off
      {0, 3, 0, 0, 'G'}, {0, 3, 1, 0, 'B'}, {0, 3, 2, 0, 'S'}, {0, 3, 4, 0, 'P'},
      {0, 3, 8, 0, 'C'}, {0, 3, 16, 0, 'L'}, {0, 3, 31, 0, 'O'}, {0, 3, 3, 0, 'E'},
      {0, 3, 5, 0, 'E'}, {0, 3, 30, 0, 'E'}, {1, 3, 17, 0, 'E'}, {1, 3, 2, 0, 'S'},
      {0, 3, 0, 1 << 2, 'E'}, {0, 3, 0, 1, 'E'},  // only per-byte flags: code 0
      // Header only ('R') and illegal frames (no letter), unless another error.
      {0, -1, 0, 0, 'R'}, {0, -1, 16, 0, 'R'}, {0, -2, 0, 0, 0}, {0, -3, 16, 0, 0},
      {0, -1, 1, 0, 'B'}, {0, -2, 4, 0, 'P'},
      // No letter without a header, nor for clean data-only frames.
      {1, 3, 0, 0, 0}, {2, 3, 0, 0, 0}, {2, 3, 1, 0, 0}, {2, -1, 0, 0, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusLetter(Lin(c.kind, c.count, c.code, c.flags)), c.letter)
        << int{c.kind} << " " << int{c.count} << " " << c.code;
  }
}

// Nothing that shows a CAN record asks these two (each view writes its
// own "G" and type), but the decoder's answer for CAN must still hold.
TEST(CanRecordDecoding, AlwaysGoodAndTypedByTheRemoteBit) {
  CaptureRecord r{};
  r.raw[0] = kSourceCan2;
  StoreLE16(r.raw + 2, 0xFFFF);
  r.raw[10] = static_cast<uint8_t>(-1);
  EXPECT_EQ(StatusLetter(r), 'G');
  EXPECT_STREQ(FrameTypeText(r), "DATA");
  r.raw[11] = 0x40;
  EXPECT_STREQ(FrameTypeText(r), "REMOTE");
  EXPECT_EQ(StatusLetter(r), 'G');
}

}  // namespace
}  // namespace ksvw
