// A snapshot of a raised error, so that it can be raised again unchanged after
// the code that caught it has cleaned up.
#pragma once

#include <cstdint>
#include <string>

#include "common/error.h"

namespace qel {

class clsErrorCache {
 public:
  void Cache(const Error& errLast);

  int32_t Number() const { return m_lNumber; }
  void Number(int32_t lNumber) { m_lNumber = lNumber; }
  std::u16string Description() const { return m_strDescription; }
  void Description(std::u16string strDescription) { m_strDescription = std::move(strDescription); }
  std::u16string Source() const { return m_strSource; }
  void Source(std::u16string strSource) { m_strSource = std::move(strSource); }
  std::u16string HelpFile() const { return m_strHelpFile; }
  void HelpFile(std::u16string strHelpFile) { m_strHelpFile = std::move(strHelpFile); }
  std::u16string HelpContext() const { return m_strHelpContext; }
  void HelpContext(std::u16string strHelpContext) { m_strHelpContext = std::move(strHelpContext); }

  [[noreturn]] void Raise() const;

 private:
  int32_t m_lNumber = 0;
  std::u16string m_strDescription;
  std::u16string m_strSource;
  std::u16string m_strHelpFile;
  std::u16string m_strHelpContext;
};

}  // namespace qel
