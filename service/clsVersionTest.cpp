#include "service/clsVersionTest.h"

#include "service/numeric_value.h"

namespace qel {

bool clsVersionTest::ExtractData(std::u16string strFilename, std::u16string strFileData) {
  // The values are read into locals and stored together only when the file is
  // accepted: a refusal or the overflow error leaves every member as it was,
  // so a host never sees a mixture that no file published.
  std::u16string_view strRemaining = strFileData;

  if (GetValue(u"file=", GetLine(strRemaining)) != strFilename) return false;

  std::u16string_view strValue = GetValue(u"major=", GetLine(strRemaining));
  if (strValue.empty()) return false;
  const int32_t lMajor = ValueToLong(strValue);
  if (lMajor == 0) return false;

  strValue = GetValue(u"minor=", GetLine(strRemaining));
  if (strValue.empty()) return false;
  const int32_t lMinor = ValueToLong(strValue);

  strValue = GetValue(u"build=", GetLine(strRemaining));
  if (strValue.empty()) return false;
  const int32_t lBuild = ValueToLong(strValue);

  const std::u16string_view strUpdateURL = GetValue(u"update=", GetLine(strRemaining));
  if (strUpdateURL.empty() || strRemaining.empty()) return false;

  m_lMajor = lMajor;
  m_lMinor = lMinor;
  m_lBuild = lBuild;
  m_strUpdateURL = strUpdateURL;
  m_strVersionHistory = strRemaining;
  return true;
}

bool clsVersionTest::IsUpgradeAvailable(int32_t lMajor, int32_t lMinor, int32_t lBuild) const {
  // A difference, not an order: a caller ahead of the published version is
  // told so too.
  return lMajor != m_lMajor || lMinor != m_lMinor || lBuild != m_lBuild;
}

std::u16string_view clsVersionTest::GetLine(std::u16string_view& strRemaining) {
  // Only the pair CR LF ends a line; a lone CR or LF belongs to the line.
  const std::size_t lEnd = strRemaining.find(u"\r\n");
  if (lEnd == std::u16string_view::npos) {
    const std::u16string_view strLine = strRemaining;
    strRemaining = {};
    return strLine;
  }
  const std::u16string_view strLine = strRemaining.substr(0, lEnd);
  strRemaining.remove_prefix(lEnd + 2);
  return strLine;
}

std::u16string_view clsVersionTest::GetValue(std::u16string_view strKey,
                                             std::u16string_view strLine) {
  if (!strLine.starts_with(strKey)) return {};
  return strLine.substr(strKey.size());
}

}  // namespace qel
