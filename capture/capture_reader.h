// A loaded DT capture file: the whole file in one heap block, its data chunk
// used in place as an array of 32-byte records, and its decoded settings.
//
// File layout: 16-byte magic "KESTRIN DATA   \0", then chunks back to back,
// each a 4-byte tag, a u32 body length and the body. The last "MONC"/"MDCL"
// chunk is the data; "DINF" holds the settings; other tags are skipped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/capture_record.h"
#include "capture/capture_settings.h"

namespace ksvw {

inline constexpr size_t kMagicSize = 16;
inline constexpr char kCaptureMagic[kMagicSize + 1] = "KESTRIN DATA   ";  // + the NUL at 15

// Walks the chunks of an image. True when the magic is right, every chunk
// header fits and at least one data chunk is present (this is the whole test
// for "is a capture file"; it keeps nothing).
bool IsCaptureImage(const uint8_t* image, size_t size);

class CaptureReader {
 public:
  CaptureReader() = default;
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Takes ownership of `image` (may be null when size is 0). Resets the
  // settings and the data chunk, checks the magic and walks the chunks.
  // True when a data chunk was found, even an empty one. On failure the
  // reader keeps the image but has no records.
  bool Load(std::unique_ptr<uint8_t[]> image, size_t size);
  // Copies `size` bytes into a new image and loads it.
  bool LoadCopy(const uint8_t* bytes, size_t size);
  // Frees the image and forgets the records and settings.
  void Release();

  bool HasImage() const { return image_ != nullptr; }
  size_t ImageSize() const { return imageSize_; }

  // Whole records in the data chunk (a remainder of 1..31 bytes is ignored).
  int32_t RecordCount() const {
    return static_cast<int32_t>(dataLength_.load(std::memory_order_relaxed) / kRecordSize);
  }
  // Data chunk body length in bytes (0 after RequestStop).
  uint32_t DataLength() const { return dataLength_.load(std::memory_order_relaxed); }
  bool HasDataChunk() const { return dataTag_ != 0; }
  uint32_t DataTag() const { return dataTag_; }
  const CaptureSettings& Settings() const { return settings_; }

  // Record `index`; the caller keeps 0 <= index < RecordCount().
  const CaptureRecord& Record(int32_t index) const {
    return *reinterpret_cast<const CaptureRecord*>(dataBegin_ +
                                                   static_cast<size_t>(index) * kRecordSize);
  }
  const CaptureRecord* FirstRecord() const {
    return reinterpret_cast<const CaptureRecord*>(dataBegin_);
  }

  // Clamps index to 0 .. count - 1 (0 when there are no records) and makes
  // that record current.
  void SeekRecord(int32_t index);
  int32_t CurrentIndex() const { return current_; }

  // Moves `cursor` (a record index) one record on, wrapping at the end of the
  // chunk. False when the chunk is empty or the cursor arrives back at the
  // first record. Starting from the current record after a load and calling
  // this until it returns false visits every record once.
  bool NextRecord(int32_t& cursor) const {
    int32_t n = RecordCount();
    if (n <= 0) return false;
    ++cursor;
    if (cursor >= n) cursor = 0;
    return cursor != 0;
  }

  // Ends a walk in progress from another thread: the data length becomes 0,
  // so the next NextRecord returns false. The store is atomic (the walker
  // reads the length on every step).
  void StopWalk() { dataLength_.store(0, std::memory_order_relaxed); }

 private:
  std::unique_ptr<uint8_t[]> image_;
  size_t imageSize_ = 0;
  const uint8_t* dataBegin_ = nullptr;
  std::atomic<uint32_t> dataLength_{0};
  uint32_t dataTag_ = 0;
  int32_t current_ = 0;
  CaptureSettings settings_;
};

// The program's two readers: the viewer's (list view and search) and the
// batch converter's. They never share an image.
extern CaptureReader viewerReader;
extern CaptureReader conversionReader;

// Record count published by the last load of viewerReader (list view and
// status bar read it).
int32_t ViewerRecordCount();

// Reader selectors of LoadCaptureFile and ReleaseCaptureImage. The first two
// both load viewerReader; they are told apart only so that callers say which
// file they show.
inline constexpr int kReaderOpenedFile = 0;  // a file the user opened
inline constexpr int kReaderDownload = 1;    // the freshly downloaded working file
inline constexpr int kReaderConversion = 2;  // conversionReader
// The reader a selector names, or null for any other value.
CaptureReader* SelectReader(int which);

// Reads the whole file and checks it as a capture; keeps nothing.
bool IsCaptureFile(const char* path);
// Reads the file into a new image owned by the selected reader and loads it.
// The caller releases the old image first.
bool LoadCaptureFile(const char* path, int which);
void ReleaseCaptureImage(int which);

}  // namespace ksvw
