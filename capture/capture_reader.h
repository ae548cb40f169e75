// A loaded DT capture file: where its bytes come from, its data chunk read
// as an array of 32-byte records, and its decoded settings.
//
// File layout: 16-byte magic "KESTRIN DATA   \0", then chunks back to back,
// each a 4-byte tag, a u32 body length and the body. The last "MONC"/"MDCL"
// chunk is the data; "DINF" holds the settings; other tags are skipped.
//
// One reader, two kinds of source. A source whose whole file lies in memory
// (a file mapping, or a heap copy) has its records used in place. A streamed
// source is read in pieces: the reader keeps a window of records in a fixed
// buffer and moves it when a record outside it is asked for, so its memory
// does not grow with the file. Either way every record is decoded by
// capture_record.h, and the walk, the list and the search see the same
// records.
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
// A settings body is read as far as this: the known layout is 788 bytes,
// and a stream keeps no more than this of it in memory.
inline constexpr uint32_t kMaxSettingsBody = 64 * 1024;
// Records a streamed source reads at a time (256 KiB).
inline constexpr int32_t kStreamWindowRecords = 8192;

// The bytes of one capture file. This base class is a view of bytes in
// memory that it does not own; the sources that own a heap copy, a file
// mapping or an open file derive from it (capture_reader.cpp).
class CaptureSource {
 public:
  CaptureSource(const uint8_t* image, uint64_t size) : image_(image), size_(size) {}
  virtual ~CaptureSource() = default;
  CaptureSource(const CaptureSource&) = delete;
  CaptureSource& operator=(const CaptureSource&) = delete;

  uint64_t Size() const { return size_; }
  // The whole file in memory, or null for a streamed source.
  const uint8_t* Image() const { return image_; }
  // Records read at a time when the source is streamed (at least 3).
  int32_t WindowRecords() const { return windowRecords_; }
  // Copies `n` bytes at `offset` into `out`. False, with errno set, when
  // they cannot all be read (a streamed file that got shorter, a failed read).
  virtual bool ReadAt(uint64_t offset, void* out, size_t n);

 protected:
  const uint8_t* image_;
  uint64_t size_;
  int32_t windowRecords_ = kStreamWindowRecords;
};

// How a file is read: the program maps it, the command line streams it.
enum class CaptureAccess {
  Map,     // read-only mapping where safe (InputFile::Map), else as Copy
  Copy,    // the whole file in a new heap block, the file itself left free
  Stream,  // read in windows of kStreamWindowRecords records on demand
};

// Walks the chunks of an image. True when the magic is right, every chunk
// header fits and at least one data chunk is present (this is the whole test
// for "is a capture file"; it keeps nothing).
bool IsCaptureImage(const uint8_t* image, size_t size);

// Records in memory: rows[0] is record `first`, `count` of them.
struct RecordSpan {
  const CaptureRecord* rows;
  int32_t first;
  int32_t count;
};

class CaptureReader {
 public:
  CaptureReader() = default;
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Takes the source (null: a file that could not be opened, see
  // ReadError). Resets the settings and the data chunk, checks the magic and
  // walks the chunks. True when a data chunk was found, even an empty one.
  // On failure the reader keeps the source but has no records.
  bool Load(std::unique_ptr<CaptureSource> source);
  // Takes ownership of `image` (may be null when size is 0) and loads it.
  bool Load(std::unique_ptr<uint8_t[]> image, size_t size);
  // Copies `size` bytes into a new image and loads it.
  bool LoadCopy(const uint8_t* bytes, size_t size);
  // Frees the source and forgets the records and settings.
  void Release();

  // A file (or image) is held, loaded or not.
  bool HasImage() const { return source_ != nullptr; }
  uint64_t ImageSize() const { return source_ ? source_->Size() : 0; }
  // The errno value of the open or read that failed, 0 while none did. A
  // failed read of records also ends the walk in progress (as StopWalk) and
  // gives zero bytes in place of the records it could not read.
  int ReadError() const { return readError_; }

  // Whole records in the data chunk (a remainder of 1..31 bytes is ignored).
  int32_t RecordCount() const {
    return static_cast<int32_t>(dataLength_.load(std::memory_order_relaxed) / kRecordSize);
  }
  // Data chunk body length in bytes (0 after StopWalk).
  uint32_t DataLength() const { return dataLength_.load(std::memory_order_relaxed); }
  bool HasDataChunk() const { return dataTag_ != 0; }
  uint32_t DataTag() const { return dataTag_; }
  const CaptureSettings& Settings() const { return settings_; }

  // Record `index`; the caller keeps 0 <= index < RecordCount(). For a
  // streamed source the reference lasts until a record outside the window
  // is asked for: the record just before and the one just after the last
  // one asked for are always still inside.
  const CaptureRecord& Record(int32_t index) const {
    const uint32_t at = static_cast<uint32_t>(index) - static_cast<uint32_t>(windowFirst_);
    if (at >= static_cast<uint32_t>(windowCount_)) [[unlikely]] {
      return MoveWindow(index, index < windowFirst_) ? window_[index - windowFirst_] : kZeroRecord;
    }
    return window_[at];
  }
  // The records in memory around `index` (0 <= index < RecordCount()): all
  // of them for a source in memory, else a window that starts just before
  // `index`, or with `backward` one that ends just after it.
  RecordSpan Span(int32_t index, bool backward) const;

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
  void StopWalk() const { dataLength_.store(0, std::memory_order_relaxed); }

 private:
  // Reads the window of a streamed source around `index`. False when
  // there is none: a source in memory, or an index outside the records.
  bool MoveWindow(int32_t index, bool backward) const;
  // What a record outside the records, or one that could not be read, reads as.
  static const CaptureRecord kZeroRecord;

  std::unique_ptr<CaptureSource> source_;
  uint64_t dataOffset_ = 0;
  int32_t loadedCount_ = 0;  // records at load time (StopWalk leaves it)
  mutable std::atomic<uint32_t> dataLength_{0};
  uint32_t dataTag_ = 0;
  int32_t current_ = 0;
  CaptureSettings settings_;
  // The records in memory: the whole data chunk of a source in memory, else
  // the window read into buffer_. Moved by Record and Span (the reader is
  // used by one thread; only StopWalk comes from others).
  std::unique_ptr<uint8_t[]> buffer_;
  mutable const CaptureRecord* window_ = nullptr;
  mutable int32_t windowFirst_ = 0;
  mutable int32_t windowCount_ = 0;
  mutable int readError_ = 0;
};

// The program's two readers: the viewer's (list view and search) and the
// batch converter's. They never share a source.
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

// Walks the chunk headers of the file and checks it as a capture; reads no
// more of it than those headers and keeps nothing.
bool IsCaptureFile(const char* path);
// Opens the file as `access` says into the selected reader and loads it.
// The caller releases the old source first.
bool LoadCaptureFile(const char* path, int which, CaptureAccess access = CaptureAccess::Map);
void ReleaseCaptureImage(int which);

}  // namespace ksvw
