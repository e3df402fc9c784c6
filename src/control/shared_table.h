// A table read from the input files and then only read: copies of a model share
// one block of memory, so the fits of several starts, or of a bootstrap that keeps
// the measured values, do not copy the measured data. Reads are const; a write goes
// through writable(), which first gives this copy a table of its own when the
// block is shared (copy on write).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

template <typename T>
class SharedTable {
 public:
  SharedTable() : data_(std::make_shared<std::vector<T>>()) {}
  SharedTable(std::vector<T> values) : data_(std::make_shared<std::vector<T>>(std::move(values))) {}
  SharedTable(std::initializer_list<T> values) : data_(std::make_shared<std::vector<T>>(values)) {}

  SharedTable& operator=(std::vector<T> values) {
    data_ = std::make_shared<std::vector<T>>(std::move(values));
    return *this;
  }
  SharedTable& operator=(std::initializer_list<T> values) {
    data_ = std::make_shared<std::vector<T>>(values);
    return *this;
  }

  // A table of its own of n copies of value.
  void assign(std::size_t n, const T& value) { data_ = std::make_shared<std::vector<T>>(n, value); }

  const T& operator[](std::size_t i) const { return (*data_)[i]; }
  const T* data() const { return data_->data(); }
  std::size_t size() const { return data_->size(); }
  bool empty() const { return data_->empty(); }
  const std::vector<T>& values() const { return *data_; }
  typename std::vector<T>::const_iterator begin() const { return data_->begin(); }
  typename std::vector<T>::const_iterator end() const { return data_->end(); }

  // The elements for writing; the block is copied first when another model shares it.
  T* writable() {
    if (data_.use_count() > 1) data_ = std::make_shared<std::vector<T>>(*data_);
    return data_->data();
  }

  // True when both share one block of memory.
  bool shares_with(const SharedTable& other) const { return data_ == other.data_; }

 private:
  std::shared_ptr<std::vector<T>> data_;
};
