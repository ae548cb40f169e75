// One counted reference to an object with AddRef and Release (the remote
// library's devices and requests, the key emulator's objects), given back
// exactly once: when the holder goes, is reset or is assigned over. Moving
// hands the reference on; nothing copies it, so no early return can leak
// a reference or release one twice.
#pragma once

#include <utility>

namespace ksvw {

template <class T>
class CountedRef {
 public:
  CountedRef() = default;
  // Takes over a reference the caller already holds (one that a creation or
  // a posted message handed over).
  static CountedRef Adopt(T* object) { return CountedRef(object); }
  // Adds a reference of its own to `object` (null holds nothing).
  static CountedRef Share(T* object) {
    if (object) object->AddRef();
    return CountedRef(object);
  }

  CountedRef(CountedRef&& other) noexcept : object_(other.Detach()) {}
  CountedRef& operator=(CountedRef&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  CountedRef(const CountedRef&) = delete;
  CountedRef& operator=(const CountedRef&) = delete;
  ~CountedRef() { Reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Takes over `object`'s reference and releases the one held before (by
  // then no longer in the holder).
  void Reset(T* object = nullptr) {
    T* held = std::exchange(object_, object);
    if (held) held->Release();
  }
  // Hands the reference to the caller, who releases it.
  [[nodiscard]] T* Detach() { return std::exchange(object_, nullptr); }
  // For a creation that stores a new reference through an out argument:
  // what was held goes first.
  T** Put() {
    Reset();
    return &object_;
  }

 private:
  explicit CountedRef(T* object) : object_(object) {}
  T* object_ = nullptr;
};

}  // namespace ksvw
