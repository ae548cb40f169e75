// Time differences between records and the LIN record decoders: data count,
// checksum position, frame type and status letter.
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

std::string Text(const TimeParts& t) {
  return std::to_string(t.minutes) + ":" + std::to_string(t.seconds) + ":" +
         std::to_string(t.hundredths) + "," + std::to_string(t.millis);
}

std::string Diff(uint32_t cur, uint32_t prev) {
  return Text(TimeDifference(cur, prev));
}

TEST(TimeDifference, OneMillisecondAcrossTheHourWrap) {
  // 59:59:99 and 9 (fifths 45 to 49) to 00:00:00 and 0.
  EXPECT_EQ(Diff(Ts(0, 0, 0, 0), Ts(59, 59, 99, 45)), "0:0:0,1");
  EXPECT_EQ(Diff(Ts(0, 0, 0, 4), Ts(59, 59, 99, 49)), "0:0:0,1");
}

TEST(TimeDifference, HundredthsBorrowASecond) {
  // 00:00:50,0 to 00:01:10,0 is 0.600 s.
  EXPECT_EQ(Diff(Ts(0, 1, 10, 0), Ts(0, 0, 50, 0)), "0:0:60,0");
}

TEST(TimeDifference, EachDigitBorrowsFromTheNext) {
  EXPECT_EQ(Diff(Ts(0, 0, 0, 0), Ts(0, 0, 0, 0)), "0:0:0,0");
  EXPECT_EQ(Diff(Ts(12, 34, 56, 35), Ts(12, 34, 56, 10)), "0:0:0,5");
  EXPECT_EQ(Diff(Ts(1, 0, 0, 0), Ts(0, 59, 99, 45)), "0:0:0,1");
  EXPECT_EQ(Diff(Ts(5, 10, 20, 15), Ts(3, 40, 50, 30)), "1:29:69,7");
  EXPECT_EQ(Diff(Ts(2, 0, 0, 0), Ts(1, 0, 0, 0)), "1:0:0,0");
}

TEST(TimeDifference, MillisecondDigitsAreCutBeforeSubtracting) {
  // Fifths 9 and 5 are both digit 1; fifths 10 and 9 are digits 2 and 1.
  EXPECT_EQ(Diff(Ts(0, 0, 0, 9), Ts(0, 0, 0, 5)), "0:0:0,0");
  EXPECT_EQ(Diff(Ts(0, 0, 0, 10), Ts(0, 0, 0, 9)), "0:0:0,1");
}

TEST(TimeDifference, AnHourOrMoreIsShownModuloOneHour) {
  // Earlier than the previous record: taken as across the wrap.
  EXPECT_EQ(Diff(Ts(9, 59, 99, 45), Ts(10, 0, 0, 0)), "59:59:99,9");
  EXPECT_EQ(Diff(Ts(30, 0, 0, 0), Ts(30, 0, 0, 0)), "0:0:0,0");
}

TEST(TimeDifference, DamagedStampsBorrowOnceAndNeverOverflow) {
  // Bytes out of range are subtracted as they are, with one borrow each.
  EXPECT_EQ(Diff(Ts(255, 255, 255, 255), Ts(0, 0, 0, 0)), "255:255:255,51");
  EXPECT_EQ(Diff(Ts(0, 0, 0, 0), Ts(255, 255, 255, 255)), "-196:-196:-156,-41");
}

// A LIN record (channel 1) with the given shape.
CaptureRecord Lin(uint8_t kind, int8_t count, uint16_t status) {
  CaptureRecord r{};
  r.raw[0] = kSourceLin1;
  StoreLE16(r.raw + 2, status);
  r.raw[10] = static_cast<uint8_t>(count);
  r.raw[11] = kind;
  return r;
}

uint16_t ErrorCode(int code) {
  return static_cast<uint16_t>(code << 11);
}

TEST(LinRecordDecoding, KindZeroCountsTheChecksum) {
  CaptureRecord r = Lin(0, 3, 1 << 4);
  EXPECT_EQ(LinDataCount(r), 2);
  EXPECT_EQ(LinChecksumIndex(r), 2);
  EXPECT_TRUE(LinByteError(r, 2)) << "checksum flag at status bit 4";
  EXPECT_FALSE(LinByteError(r, 0));
  EXPECT_FALSE(LinByteError(r, 1));
  EXPECT_STREQ(FrameTypeText(r), "FRAME");
}

TEST(LinRecordDecoding, OtherKindsCountDataOnly) {
  CaptureRecord r = Lin(1, 3, 0);
  EXPECT_EQ(LinDataCount(r), 3);
  EXPECT_EQ(LinChecksumIndex(r), 3);
  EXPECT_STREQ(FrameTypeText(r), "");
  CaptureRecord noHeader = Lin(2, 3, 0);
  EXPECT_EQ(LinDataCount(noHeader), 3);
  EXPECT_EQ(LinChecksumIndex(noHeader), -1) << "no checksum without a header";
  EXPECT_STREQ(FrameTypeText(noHeader), "");
}

TEST(LinRecordDecoding, CountsAtTheEdges) {
  EXPECT_EQ(LinDataCount(Lin(0, 0, 0)), 0);
  EXPECT_EQ(LinChecksumIndex(Lin(0, 0, 0)), -1);
  EXPECT_EQ(LinDataCount(Lin(0, 1, 0)), 0);
  EXPECT_EQ(LinChecksumIndex(Lin(0, 1, 0)), 0);
  EXPECT_EQ(LinDataCount(Lin(0, 9, 0)), 8);
  EXPECT_EQ(LinChecksumIndex(Lin(0, 9, 0)), 8);
  // Damaged counts never point past the record's data.
  EXPECT_EQ(LinDataCount(Lin(0, 127, 0)), 8);
  EXPECT_EQ(LinChecksumIndex(Lin(1, 127, 0)), 8);
  for (int8_t count : {-1, -2, -3, -4, -128}) {
    EXPECT_EQ(LinDataCount(Lin(0, count, 0)), 0) << int{count};
    EXPECT_EQ(LinChecksumIndex(Lin(0, count, 0)), -1) << int{count};
  }
}

TEST(LinRecordDecoding, FrameTypeByCount) {
  EXPECT_STREQ(FrameTypeText(Lin(0, -1, 0)), "FRAME");
  EXPECT_STREQ(FrameTypeText(Lin(1, -1, 0)), "FRAME");
  EXPECT_STREQ(FrameTypeText(Lin(0, -2, 0)), "ILLEGAL");
  EXPECT_STREQ(FrameTypeText(Lin(0, -3, 0)), "ILLEGAL");
  EXPECT_STREQ(FrameTypeText(Lin(0, -4, 0)), "ILLEGAL");
  EXPECT_STREQ(FrameTypeText(Lin(0, 0, 0)), "FRAME");
}

TEST(LinRecordDecoding, HeaderOnlyAndIllegalStatus) {
  EXPECT_EQ(StatusLetter(Lin(0, -1, 0)), 'R');
  EXPECT_EQ(StatusLetter(Lin(0, -1, ErrorCode(16))), 'R');
  EXPECT_EQ(StatusLetter(Lin(0, -2, 0)), 0);
  EXPECT_EQ(StatusLetter(Lin(0, -3, ErrorCode(16))), 0);
  // Another error on a short frame is shown by its code.
  EXPECT_EQ(StatusLetter(Lin(0, -1, ErrorCode(1))), 'B');
  EXPECT_EQ(StatusLetter(Lin(0, -2, ErrorCode(4))), 'P');
}

TEST(LinRecordDecoding, StatusLetterOfEachErrorCode) {
  struct {
    int code;
    char letter;
  } cases[] = {{1, 'B'},  {2, 'S'}, {4, 'P'}, {8, 'C'},  {16, 'L'},
               {31, 'O'}, {3, 'E'}, {5, 'E'}, {30, 'E'}, {17, 'E'}};
  for (auto c : cases) {
    EXPECT_EQ(StatusLetter(Lin(0, 3, ErrorCode(c.code))), c.letter) << c.code;
    EXPECT_EQ(StatusLetter(Lin(1, 3, ErrorCode(c.code))), c.letter) << c.code;
  }
  // Only per-byte flags set: error code 0.
  EXPECT_EQ(StatusLetter(Lin(0, 3, 1 << 2)), 'E');
  EXPECT_EQ(StatusLetter(Lin(0, 3, 0x0001)), 'E');
}

TEST(LinRecordDecoding, NoLetterWithoutHeaderOrForCleanDataOnlyFrames) {
  EXPECT_EQ(StatusLetter(Lin(0, 3, 0)), 'G');
  EXPECT_EQ(StatusLetter(Lin(1, 3, 0)), 0);
  EXPECT_EQ(StatusLetter(Lin(2, 3, 0)), 0);
  EXPECT_EQ(StatusLetter(Lin(2, 3, ErrorCode(1))), 0);
  EXPECT_EQ(StatusLetter(Lin(2, -1, 0)), 0);
}

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
