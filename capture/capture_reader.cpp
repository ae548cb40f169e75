#include "capture/capture_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "common/files.h"
#include "common/input_file.h"

namespace ksvw {

CaptureReader viewerReader;
CaptureReader conversionReader;

const CaptureRecord CaptureReader::kZeroRecord{};

namespace {

int32_t viewerRecordCount = 0;

// A heap copy of a file.
class HeapSource : public CaptureSource {
 public:
  HeapSource(std::unique_ptr<uint8_t[]> image, uint64_t size)
      : CaptureSource(image.get(), image ? size : 0), block_(std::move(image)) {}

 private:
  std::unique_ptr<uint8_t[]> block_;
};

// An open file, read in place or, once Map succeeded, mapped.
class FileSource : public CaptureSource {
 public:
  FileSource() : CaptureSource(nullptr, 0) {}
  bool Open(const char* path, bool sequential) {
    if (!file_.Open(path, sequential)) return false;
    size_ = file_.Size();
    return true;
  }
  void Map() { image_ = file_.Map(); }
  bool ReadAt(uint64_t offset, void* out, size_t n) override {
    return image_ != nullptr ? CaptureSource::ReadAt(offset, out, n) : file_.ReadAt(offset, out, n);
  }

 private:
  InputFile file_;
};

// Opens `path` as `access` says; null, with errno set, when it cannot be
// opened, or for a copy allocated or read whole.
std::unique_ptr<CaptureSource> OpenSource(const char* path, CaptureAccess access) {
  if (access != CaptureAccess::Copy) {
    auto file = std::make_unique<FileSource>();
    if (!file->Open(path, access == CaptureAccess::Stream)) return nullptr;
    if (access == CaptureAccess::Stream) return file;
    file->Map();
    if (file->Image() != nullptr) return file;
  }
  // A copy, also of a file that may not be mapped.
  std::unique_ptr<uint8_t[]> image;
  size_t size = 0;
  if (!ReadWholeFile(path, image, size)) return nullptr;
  return std::make_unique<HeapSource>(std::move(image), size);
}

// The chunk walk over [16, size): calls onChunk(tag, offset, length) for
// every chunk whose body fits, which returns false when it could not read
// the body. False when the magic is wrong, a read fails or a chunk runs past
// the end; `readFailed` tells the last apart. Fewer than 8 trailing bytes
// are ignored.
template <typename OnChunk>
bool WalkChunks(CaptureSource& source, bool& readFailed, OnChunk onChunk) {
  readFailed = false;
  uint8_t header[kMagicSize];
  if (source.Size() < kMagicSize) return false;
  if (!source.ReadAt(0, header, kMagicSize)) {
    readFailed = true;
    return false;
  }
  if (std::memcmp(header, kCaptureMagic, kMagicSize) != 0) return false;
  uint64_t position = kMagicSize;
  uint64_t remaining = source.Size() - kMagicSize;
  while (remaining >= 8) {
    if (!source.ReadAt(position, header, 8)) {
      readFailed = true;
      return false;
    }
    uint32_t tag = LoadLE32(header);
    uint32_t length = LoadLE32(header + 4);
    position += 8;
    remaining -= 8;
    if (length > remaining) return false;
    if (!onChunk(tag, position, length)) {
      readFailed = true;
      return false;
    }
    position += length;
    remaining -= length;
  }
  return true;
}

bool IsDataTag(uint32_t tag) {
  return tag == kTagMonc || tag == kTagMdcl;
}

bool IsCaptureSource(CaptureSource& source) {
  bool sawData = false;
  bool readFailed = false;
  bool chunksFit = WalkChunks(source, readFailed, [&](uint32_t tag, uint64_t, uint32_t) {
    sawData |= IsDataTag(tag);
    return true;
  });
  return chunksFit && sawData;
}

// Parses a "DINF" body, as far as kMaxSettingsBody of it. False when it
// could not be read.
bool ReadSettings(CaptureSource& source, uint64_t offset, uint32_t length,
                  CaptureSettings& settings) {
  const uint32_t n = std::min(length, kMaxSettingsBody);
  // A damaged settings body keeps what was read and never fails the load.
  if (const uint8_t* image = source.Image()) {
    (void)ParseCaptureSettings(settings, image + offset, n);
    return true;
  }
  std::vector<uint8_t> body(n);
  if (n != 0 && !source.ReadAt(offset, body.data(), n)) return false;
  (void)ParseCaptureSettings(settings, body.data(), n);
  return true;
}

}  // namespace

bool CaptureSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) {
    errno = EIO;
    return false;
  }
  if (n != 0) std::memcpy(out, image_ + offset, n);
  return true;
}

bool IsCaptureImage(const uint8_t* image, size_t size) {
  CaptureSource view(image, size);
  return IsCaptureSource(view);
}

bool CaptureReader::Load(std::unique_ptr<CaptureSource> source) {
  const int openError = errno;
  Release();
  source_ = std::move(source);
  if (!source_) {
    readError_ = openError != 0 ? openError : EIO;
    return false;
  }

  uint64_t offset = 0;
  uint32_t length = 0;
  uint32_t tag = 0;
  bool readFailed = false;
  bool chunksFit =
      WalkChunks(*source_, readFailed, [&](uint32_t chunkTag, uint64_t body, uint32_t bodyLength) {
        if (IsDataTag(chunkTag)) {
          // A later data chunk replaces an earlier one.
          offset = body;
          length = bodyLength;
          tag = chunkTag;
        } else if (chunkTag == kTagDinf) {
          return ReadSettings(*source_, body, bodyLength, settings_);
        }
        return true;
      });
  if (readFailed) readError_ = errno != 0 ? errno : EIO;
  // A chunk that runs past the end makes the whole file invalid, whatever
  // came before it: no records are offered from it.
  if (!chunksFit || tag == 0) {
    settings_.Reset();
    return false;
  }
  const uint8_t* image = source_->Image();
  if (image == nullptr) {
    const size_t windowBytes = static_cast<size_t>(source_->WindowRecords()) * kRecordSize;
    buffer_.reset(new (std::nothrow) uint8_t[windowBytes]);
    if (!buffer_) {
      readError_ = ENOMEM;
      settings_.Reset();
      return false;
    }
  }
  dataOffset_ = offset;
  loadedCount_ = static_cast<int32_t>(length / kRecordSize);
  dataLength_.store(length, std::memory_order_relaxed);
  dataTag_ = tag;
  if (image != nullptr) {
    window_ = reinterpret_cast<const CaptureRecord*>(image + offset);
    windowCount_ = loadedCount_;
  }
  SeekRecord(0);
  return true;
}

bool CaptureReader::Load(std::unique_ptr<uint8_t[]> image, size_t size) {
  return Load(std::make_unique<HeapSource>(std::move(image), size));
}

bool CaptureReader::LoadCopy(const uint8_t* bytes, size_t size) {
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!image) {
    Release();
    readError_ = ENOMEM;
    return false;
  }
  if (size) std::memcpy(image.get(), bytes, size);
  return Load(std::move(image), size);
}

void CaptureReader::Release() {
  source_.reset();
  buffer_.reset();
  dataOffset_ = 0;
  loadedCount_ = 0;
  dataLength_.store(0, std::memory_order_relaxed);
  dataTag_ = 0;
  current_ = 0;
  window_ = nullptr;
  windowFirst_ = 0;
  windowCount_ = 0;
  readError_ = 0;
  settings_.Reset();
}

bool CaptureReader::MoveWindow(int32_t index, bool backward) const {
  if (!buffer_ || index < 0 || index >= loadedCount_) return false;
  const int32_t capacity = source_->WindowRecords();
  // Around `index`, so that the record before it (a time difference) and,
  // moving back, the one after it stay inside.
  int64_t first = backward ? int64_t{index} + 2 - capacity : int64_t{index} - 1;
  first = std::clamp<int64_t>(first, 0, index);
  const int32_t count = static_cast<int32_t>(std::min<int64_t>(capacity, loadedCount_ - first));
  const size_t bytes = static_cast<size_t>(count) * kRecordSize;
  // After a failed read the walk has ended; later windows read as zeros.
  if (readError_ != 0 || !source_->ReadAt(dataOffset_ + static_cast<uint64_t>(first) * kRecordSize,
                                          buffer_.get(), bytes)) {
    if (readError_ == 0) readError_ = errno != 0 ? errno : EIO;
    StopWalk();
    std::memset(buffer_.get(), 0, bytes);
  }
  window_ = reinterpret_cast<const CaptureRecord*>(buffer_.get());
  windowFirst_ = static_cast<int32_t>(first);
  windowCount_ = count;
  return true;
}

RecordSpan CaptureReader::Span(int32_t index, bool backward) const {
  const uint32_t at = static_cast<uint32_t>(index) - static_cast<uint32_t>(windowFirst_);
  if (at < static_cast<uint32_t>(windowCount_) || MoveWindow(index, backward)) {
    return {window_, windowFirst_, windowCount_};
  }
  return {&kZeroRecord, index, 1};
}

void CaptureReader::SeekRecord(int32_t index) {
  int32_t n = RecordCount();
  if (index >= n) index = n - 1;
  if (index < 0) index = 0;
  current_ = index;
}

int32_t ViewerRecordCount() {
  return viewerRecordCount;
}

CaptureReader* SelectReader(int which) {
  switch (which) {
    case kReaderOpenedFile:
    case kReaderDownload: return &viewerReader;
    case kReaderConversion: return &conversionReader;
    default: return nullptr;
  }
}

bool IsCaptureFile(const char* path) {
  FileSource file;
  return file.Open(path, false) && IsCaptureSource(file);
}

bool LoadCaptureFile(const char* path, int which, CaptureAccess access) {
  CaptureReader* reader = SelectReader(which);
  if (!reader) return false;
  errno = 0;
  // A source that could not be opened still empties the reader and leaves
  // why in its ReadError.
  bool loaded = reader->Load(OpenSource(path, access));
  if (reader == &viewerReader) viewerRecordCount = reader->RecordCount();
  return loaded;
}

void ReleaseCaptureImage(int which) {
  CaptureReader* reader = SelectReader(which);
  if (!reader) return;
  reader->Release();
  if (reader == &viewerReader) viewerRecordCount = 0;
}

}  // namespace ksvw
