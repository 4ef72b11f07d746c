#include "retrieval/clsErrorCache.h"

#include <charconv>
#include <string>

namespace qel {
namespace {

std::u16string DecimalText(int32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The help context is kept as text; anything that is not a decimal number in
// the 32-bit range reads back as 0.
int32_t DecimalValue(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) {
    if (c > 0x7F) return 0;
    narrow.push_back(static_cast<char>(c));
  }
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
  return ec == std::errc() && end == narrow.data() + narrow.size() ? value : 0;
}

}  // namespace

void clsErrorCache::Cache(const Error& errLast) {
  m_lNumber = errLast.Number();
  m_strDescription = errLast.Description();
  m_strSource = errLast.Source();
  m_strHelpFile = errLast.HelpFile();
  m_strHelpContext = DecimalText(errLast.HelpContext());
}

void clsErrorCache::Raise() const {
  qel::Raise(m_lNumber, m_strSource, m_strDescription, m_strHelpFile,
             DecimalValue(m_strHelpContext));
}

}  // namespace qel
