// Owns one HINTERNET; closing is explicit so that the download can close its
// handles in the order WinINet expects, and automatic on every other path.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

namespace qel {

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
  InternetHandle(InternetHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
  InternetHandle& operator=(InternetHandle&& other) noexcept {
    if (this != &other) {
      Close();
      m_handle = std::exchange(other.m_handle, {});
    }
    return *this;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { Close(); }

  HINTERNET Get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return m_handle != nullptr; }

  // Lets go of the handle without closing it: someone else has.
  void Forget() noexcept { m_handle = nullptr; }

  void Close() noexcept {
    if (m_handle != nullptr) InternetCloseHandle(std::exchange(m_handle, nullptr));
  }

 private:
  HINTERNET m_handle = nullptr;
};

}  // namespace qel
