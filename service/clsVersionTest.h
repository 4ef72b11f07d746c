// The version file parser: checks that a downloaded text is the version file
// asked for and well formed, and keeps the values it publishes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qel {

class clsVersionTest {
 public:
  // True when strFileData is a valid version file for strFilename; only then
  // are the five values stored. Raises the overflow error (6) for a number
  // beyond the signed 32-bit range, storing nothing.
  bool ExtractData(std::u16string strFilename, std::u16string strFileData);
  bool IsUpgradeAvailable(int32_t lMajor, int32_t lMinor, int32_t lBuild) const;

  int32_t Major() const { return m_lMajor; }
  int32_t Minor() const { return m_lMinor; }
  int32_t Build() const { return m_lBuild; }
  std::u16string UpdateURL() const { return m_strUpdateURL; }
  std::u16string VersionHistory() const { return m_strVersionHistory; }

 private:
  // Both work on views into the caller's text, so that a long history is
  // copied once, into m_strVersionHistory.
  static std::u16string_view GetLine(std::u16string_view& strRemaining);
  static std::u16string_view GetValue(std::u16string_view strKey, std::u16string_view strLine);

  int32_t m_lMajor = 0;
  int32_t m_lMinor = 0;
  int32_t m_lBuild = 0;
  std::u16string m_strUpdateURL;
  std::u16string m_strVersionHistory;
};

}  // namespace qel
