// The merge's large tables: a fixed number of elements in zero-filled pages that the platform
// hands out, so that a table of millions of slots costs only the pages it touches.
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
  // How the table is used: front to back, or at scattered places (in large pages).
  enum class Use { kInOrder, kScattered };

  // count zero-filled elements; throws std::bad_alloc when there is not enough memory.
  Table(size_t count, Use use) : count_(count), scattered_(use == Use::kScattered) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    data_ = static_cast<T*>(platform::AllocatePages(count * sizeof(T), scattered_));
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~Table() { platform::FreePages(data_, count_ * sizeof(T), scattered_); }
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
    std::swap(scattered_, other.scattered_);
  }

 private:
  T* data_ = nullptr;
  size_t count_ = 0;
  bool scattered_ = false;
};

}  // namespace bonesplice
