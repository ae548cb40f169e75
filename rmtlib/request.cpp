#include "rmtlib/request.h"

#include <new>

namespace ksvw::rmt {

Request* Request::Create() {
  return new (std::nothrow) Request();
}

uint32_t Request::AddRef() {
  return static_cast<uint32_t>(InterlockedIncrement(&refs_));
}

uint32_t Request::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<uint32_t>(left);
}

}  // namespace ksvw::rmt
