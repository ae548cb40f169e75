#include "capture/capture_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/files.h"

namespace ksvw {

CaptureReader viewerReader;
CaptureReader conversionReader;

namespace {

int32_t viewerRecordCount = 0;

bool MagicMatches(const uint8_t* image, size_t size) {
  return size >= kMagicSize && std::memcmp(image, kCaptureMagic, kMagicSize) == 0;
}

// One step of the chunk walk over [16, size): calls onChunk(tag, body, length)
// for every chunk whose body fits. False when a chunk runs past the end.
// Fewer than 8 trailing bytes are ignored.
template <typename OnChunk>
bool WalkChunks(const uint8_t* image, size_t size, OnChunk onChunk) {
  size_t position = kMagicSize;
  size_t remaining = size - kMagicSize;
  while (remaining >= 8) {
    uint32_t tag = LoadLE32(image + position);
    uint32_t length = LoadLE32(image + position + 4);
    position += 8;
    remaining -= 8;
    if (length > remaining) return false;
    onChunk(tag, image + position, length);
    position += length;
    remaining -= length;
  }
  return true;
}

bool IsDataTag(uint32_t tag) {
  return tag == kTagMonc || tag == kTagMdcl;
}

}  // namespace

bool IsCaptureImage(const uint8_t* image, size_t size) {
  if (!MagicMatches(image, size)) return false;
  bool sawData = false;
  bool chunksFit = WalkChunks(
      image, size, [&](uint32_t tag, const uint8_t*, uint32_t) { sawData |= IsDataTag(tag); });
  return chunksFit && sawData;
}

bool CaptureReader::Load(std::unique_ptr<uint8_t[]> image, size_t size) {
  image_ = std::move(image);
  imageSize_ = image_ ? size : 0;
  settings_.Reset();
  dataBegin_ = nullptr;
  dataLength_.store(0, std::memory_order_relaxed);
  dataTag_ = 0;
  current_ = 0;

  const uint8_t* bytes = image_.get();
  if (!MagicMatches(bytes, imageSize_)) return false;

  const uint8_t* begin = nullptr;
  uint32_t length = 0;
  uint32_t tag = 0;
  bool chunksFit = WalkChunks(bytes, imageSize_,
                              [&](uint32_t chunkTag, const uint8_t* body, uint32_t bodyLength) {
                                if (IsDataTag(chunkTag)) {
                                  // A later data chunk replaces an earlier one.
                                  begin = body;
                                  length = bodyLength;
                                  tag = chunkTag;
                                } else if (chunkTag == kTagDinf) {
                                  // A damaged settings body keeps what was read and never fails the
                                  // load.
                                  (void)ParseCaptureSettings(settings_, body, bodyLength);
                                }
                              });
  // A chunk that runs past the end makes the whole file invalid, whatever
  // came before it: no records are offered from it.
  if (!chunksFit || tag == 0) {
    settings_.Reset();
    return false;
  }
  dataBegin_ = begin;
  dataLength_.store(length, std::memory_order_relaxed);
  dataTag_ = tag;
  SeekRecord(0);
  return true;
}

bool CaptureReader::LoadCopy(const uint8_t* bytes, size_t size) {
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!image) {
    Release();
    return false;
  }
  if (size) std::memcpy(image.get(), bytes, size);
  return Load(std::move(image), size);
}

void CaptureReader::Release() {
  image_.reset();
  imageSize_ = 0;
  dataBegin_ = nullptr;
  dataLength_.store(0, std::memory_order_relaxed);
  dataTag_ = 0;
  current_ = 0;
  settings_.Reset();
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
  std::unique_ptr<uint8_t[]> copy;
  size_t size = 0;
  if (!ReadWholeFile(path, copy, size)) return false;
  return IsCaptureImage(copy.get(), size);
}

bool LoadCaptureFile(const char* path, int which) {
  CaptureReader* reader = SelectReader(which);
  if (!reader) return false;
  std::unique_ptr<uint8_t[]> image;
  size_t size = 0;
  bool loaded = false;
  if (ReadWholeFile(path, image, size)) {
    loaded = reader->Load(std::move(image), size);
  } else {
    // Whatever was read stays owned by the reader until it is released.
    reader->Load(std::move(image), 0);
  }
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
