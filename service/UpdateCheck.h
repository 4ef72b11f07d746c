// The update checker: starts a check of a version file URL and announces its
// end with UpdateCheckComplete, then serves the published values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/error.h"
#include "common/events.h"
#include "retrieval/clsPrivateWeb.h"
#include "service/clsVersionTest.h"

namespace qel {

inline constexpr char16_t kBusyDescription[] =
    u"This object is already processing a request. New request rejected.";
inline constexpr char16_t kAsyncDescription[] = u"Failed to start the request thread.";
inline constexpr char16_t kInetDescription[] =
    u"A error occurred in the inet library, this should be looked up on the returned error "
    u"code.";
inline constexpr char16_t kInvalidFileDescription[] =
    u"The revision history file is not in the expected format.";

class UpdateCheck : public std::enable_shared_from_this<UpdateCheck> {
 public:
  // `limits` bound each check; tests shorten them.
  static std::shared_ptr<UpdateCheck> Create(CheckLimits limits = {});

  bool IsActive();
  void StartCheck(std::u16string strURL);
  bool IsUpgradeAvailable(int32_t lMajor, int32_t lMinor, int32_t lBuild);
  int32_t Major();
  int32_t Minor();
  int32_t Build();
  std::u16string UpdateURL();
  std::u16string VersionHistory();

  // (lErrorNumber, strErrorDescription)
  Event<int32_t, std::u16string> UpdateCheckComplete;

 private:
  UpdateCheck() = default;
  void Class_Initialize(CheckLimits limits);
  void BusyGuard();
  void m_cWeb_DataCollected(int32_t lError, std::u16string strData);

  WithEvents<clsPrivateWeb> m_cWeb;
  std::unique_ptr<clsVersionTest> m_cVersionTest;
  std::u16string m_strURL;
};

}  // namespace qel
