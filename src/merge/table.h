// The merge's large tables: a fixed number of elements in zero-filled pages that the platform
// hands out, so that a table of millions of slots takes physical memory only for the pages it
// touches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/pages.h"

namespace bonesplice {

template <typename T>
class Table {
  static_assert(std::is_trivially_copyable_v<T>, "the memory is only ever zero-filled");

 public:
  Table() = default;
  // count zero-filled elements; throws std::bad_alloc when there is not enough memory.
  explicit Table(size_t count) : count_(count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    data_ = static_cast<T*>(platform::AllocatePages(count * sizeof(T)));
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~Table() { platform::FreePages(data_, count_ * sizeof(T)); }
  Table(Table&& other) noexcept { swap(other); }
  Table& operator=(Table&& other) noexcept {
    Table gone(std::move(other));
    swap(gone);
    return *this;
  }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return count_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  void swap(Table& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(count_, other.count_);
  }

 private:
  T* data_ = nullptr;
  size_t count_ = 0;
};

}  // namespace bonesplice
