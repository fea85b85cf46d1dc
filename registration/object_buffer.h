// A wide-character buffer from the object allocator, freed when dropped.
#pragma once

#include <cstddef>

#include "platform/heaps.h"
#include "platform/types.h"

class ObjectBuffer {
 public:
  explicit ObjectBuffer(std::size_t characters)
      : data_(static_cast<WCHAR*>(ObjectAlloc(characters * sizeof(WCHAR)))) {}
  ~ObjectBuffer() { ObjectFree(data_); }
  ObjectBuffer(const ObjectBuffer&) = delete;
  ObjectBuffer& operator=(const ObjectBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  WCHAR* Get() const { return data_; }

 private:
  WCHAR* data_;
};
