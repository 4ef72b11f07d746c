// An owning kernel handle.
#pragma once

#include <windows.h>

#include <utility>

namespace qel::com {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) noexcept : m_handle(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  void Reset() noexcept {
    HANDLE handle = std::exchange(m_handle, nullptr);
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  HANDLE Get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return m_handle && m_handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_handle = nullptr;
};

}  // namespace qel::com
