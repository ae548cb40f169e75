// The batch dialog's portable rules: its CVT section, its paths and its
// progress rate.
#include "convert/conversion_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ksvw {
namespace {

TEST(ConversionSectionText, CarriesAllThreeKeysAndNeverAnEmptyPath) {
  struct Case {
    const char* folder;
    int32_t ch, hex;
    const char* text;
  } cases[] = {
      {"C:\\caps", 2, 1, "PATH=C:\\caps\nCH=2\nHEX=1\n"},
      {"", 1, 0, "CH=1\nHEX=0\n"},
      {nullptr, 0, 1, "CH=0\nHEX=1\n"},
      // Values out of range (a hand-edited file) are stored as the default.
      {"D:", 7, -1, "PATH=D:\nCH=0\nHEX=0\n"},
  };
  for (const Case& c : cases) {
    char text[300];
    ASSERT_TRUE(ConversionSectionText(c.folder, c.ch, c.hex, text, sizeof text));
    EXPECT_STREQ(text, c.text);
  }
  char small[12];
  EXPECT_FALSE(ConversionSectionText("C:\\caps", 0, 0, small, sizeof small));
  EXPECT_STREQ(small, "");
}

TEST(BatchFilePaths, JoinsAndReplacesTheExtension) {
  struct Case {
    const char* folder;
    const char* name;
    bool csv;
    const char* source;
    const char* output;
  } cases[] = {
      {"C:\\caps", "A.DT", false, "C:\\caps\\A.DT", "C:\\caps\\A.txt"},
      {"C:\\caps\\", "run.1.DT", true, "C:\\caps\\run.1.DT", "C:\\caps\\run.1.csv"},
      {"Z:/tmp", ".DT", false, "Z:/tmp\\.DT", "Z:/tmp\\.DT.txt"},
  };
  for (const Case& c : cases) {
    char source[260], output[260];
    ASSERT_TRUE(BatchFilePaths(c.folder, c.name, c.csv, source, output, sizeof source));
    EXPECT_STREQ(source, c.source);
    EXPECT_STREQ(output, c.output);
  }
}

TEST(BatchFilePaths, RefusesWhatDoesNotFit) {
  // "C:\x" + "\" + name, with the NUL in 260: ".txt" is one longer than
  // ".DT", and a name without extension grows by four.
  struct Case {
    std::string name;
    bool fits;
  } cases[] = {
      {std::string(250, 'n') + ".DT", true},
      {std::string(251, 'n') + ".DT", false},  // the output is one too long
      {std::string(252, 'n') + ".DT", false},  // the source too
      {std::string(251, 'n'), false},          // no extension: ".txt" is added
  };
  for (const Case& c : cases) {
    char source[260] = "x", output[260] = "x";
    EXPECT_EQ(BatchFilePaths("C:\\x", c.name.c_str(), false, source, output, 260), c.fits)
        << c.name.size();
    if (!c.fits) {
      EXPECT_STREQ(source, "");
    }
  }
}

class RecordingProgress : public ThrottledProgress {
 public:
  explicit RecordingProgress(const int64_t* now) : ThrottledProgress(50, [now] { return *now; }) {}
  std::vector<int32_t> shown;
  int32_t range = -1;

 protected:
  void ShowRange(int32_t max) override { range = max; }
  void ShowPosition(int32_t position) override { shown.push_back(position); }
};

TEST(ThrottledProgress, ShowsAtMostOncePerInterval) {
  int64_t now = 1000;
  RecordingProgress progress(&now);
  progress.SetRange(100000);
  EXPECT_EQ(progress.range, 100000);
  // Looks at 17, 34, 51 and 68 ms: only the one at 51 ms shows.
  for (int i = 0; i < 4 * ThrottledProgress::kStepsPerLook; ++i) {
    now = 1000 + i / 60;
    progress.Step();
  }
  ASSERT_EQ(progress.shown.size(), 1u);
  EXPECT_EQ(progress.shown[0], 3 * ThrottledProgress::kStepsPerLook);
  // The clock running on fast: still one update per 50 ms, not per look.
  for (int i = 0; i < 20 * ThrottledProgress::kStepsPerLook; ++i) {
    if (i % ThrottledProgress::kStepsPerLook == 0) now += 10;
    progress.Step();
  }
  EXPECT_EQ(progress.shown.size(), 1u + 200 / 50);
}

}  // namespace
}  // namespace ksvw
