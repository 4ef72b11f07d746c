// The bytes of a download, kept in fixed-size chunks so that a large resource
// is never copied while it grows, and turned into text once at the end.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qel {

class ReceivedBytes {
 public:
  void Append(const char* data, size_t count);
  size_t Size() const noexcept { return m_size; }
  // The bytes converted from the system ANSI code page, in one piece, so
  // that a multi-byte character is never split at a chunk boundary.
  std::u16string ToText() const;

 private:
  static constexpr size_t kChunkBytes = 64 * 1024;
  std::vector<std::string> m_chunks;
  size_t m_size = 0;
};

}  // namespace qel
