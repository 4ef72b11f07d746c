// Owns one handle of a C interface and closes it, once, when it goes: the
// component's one holder for such handles, with a one-line alias per type
// beside the code that uses it.
#pragma once

#include <utility>

namespace qel {

// Whether a handle names something to close; most types use null for none.
struct NonNullHandle {
  template <typename Handle>
  static bool Valid(Handle handle) noexcept {
    return handle != Handle{};
  }
};

template <typename Handle, auto Close, typename Check = NonNullHandle>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(Handle handle) noexcept : m_handle(handle) {}
  UniqueResource(UniqueResource&& other) noexcept : m_handle(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Handle Get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return Check::Valid(m_handle); }

  // Closes what is held, then holds `handle`.
  void Reset(Handle handle = Handle{}) noexcept {
    const Handle old = std::exchange(m_handle, handle);
    if (Check::Valid(old)) Close(old);
  }
  // Lets go without closing: someone else closes it, or nobody must.
  Handle Release() noexcept { return std::exchange(m_handle, Handle{}); }
  // For a call that hands a new handle out through a pointer.
  Handle* Put() noexcept {
    Reset();
    return &m_handle;
  }

 private:
  Handle m_handle{};
};

}  // namespace qel
