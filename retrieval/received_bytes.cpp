#include "retrieval/received_bytes.h"

#include <windows.h>

#include <algorithm>

namespace qel {
namespace {

// Appends the conversion of [data, data + count) to text at `offset`; returns
// the number of units written.
size_t ConvertInto(const char* data, size_t count, std::u16string& text, size_t offset) {
  const int written = MultiByteToWideChar(CP_ACP, 0, data, static_cast<int>(count),
                                          reinterpret_cast<LPWSTR>(text.data() + offset),
                                          static_cast<int>(text.size() - offset));
  return written > 0 ? static_cast<size_t>(written) : 0;
}

bool SingleByteCodePage() {
  CPINFO info{};
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

}  // namespace

void ReceivedBytes::Append(const char* data, size_t count) {
  while (count > 0) {
    if (m_chunks.empty() || m_chunks.back().size() == kChunkBytes) {
      m_chunks.emplace_back();
      m_chunks.back().reserve(kChunkBytes);
    }
    std::string& chunk = m_chunks.back();
    const size_t take = std::min(count, kChunkBytes - chunk.size());
    chunk.append(data, take);
    data += take;
    count -= take;
    m_size += take;
  }
}

std::u16string ReceivedBytes::ToText() const {
  if (m_size == 0) return {};
  if (SingleByteCodePage()) {
    // One unit per byte: convert chunk by chunk into text sized once.
    std::u16string text(m_size, u'\0');
    size_t offset = 0;
    for (const std::string& chunk : m_chunks) {
      offset += ConvertInto(chunk.data(), chunk.size(), text, offset);
    }
    text.resize(offset);
    return text;
  }
  std::string joined;
  joined.reserve(m_size);
  for (const std::string& chunk : m_chunks) joined += chunk;
  const int size =
      MultiByteToWideChar(CP_ACP, 0, joined.data(), static_cast<int>(joined.size()), nullptr, 0);
  std::u16string text(static_cast<size_t>(std::max(size, 0)), u'\0');
  text.resize(ConvertInto(joined.data(), joined.size(), text, 0));
  return text;
}

}  // namespace qel
