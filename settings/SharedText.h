// A text shared between threads without tearing: writers replace it whole, readers get a copy
// of the old or the new value and keep using their copy.
#pragma once

#include <mutex>
#include <string>

namespace vq {

class SharedText {
 public:
  SharedText() = default;
  explicit SharedText(std::wstring v) : value_(std::move(v)) {}
  SharedText(const SharedText&) = delete;
  SharedText& operator=(const SharedText&) = delete;

  std::wstring Get() const {
    std::lock_guard<std::mutex> g(m_);
    return value_;
  }
  void Set(std::wstring v) {
    std::lock_guard<std::mutex> g(m_);
    value_.swap(v);
  }
  SharedText& operator=(const std::wstring& v) {
    Set(v);
    return *this;
  }
  operator std::wstring() const { return Get(); }

 private:
  mutable std::mutex m_;
  std::wstring value_;
};

}  // namespace vq
