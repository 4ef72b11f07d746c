#include "service/UpdateCheck.h"

#include "common/error.h"

namespace qel {

std::shared_ptr<UpdateCheck> UpdateCheck::Create(CheckLimits limits) {
  std::shared_ptr<UpdateCheck> check(new UpdateCheck());
  check->Class_Initialize(limits);
  return check;
}

void UpdateCheck::Class_Initialize(CheckLimits limits) {
  auto web = clsPrivateWeb::Create(limits);
  std::vector<Connection> bindings;
  bindings.push_back(web->DataCollected.Bind(weak_from_this(), &UpdateCheck::m_cWeb_DataCollected));
  m_cWeb.Set(std::move(web), std::move(bindings));
  m_cVersionTest = std::make_unique<clsVersionTest>();
}

void UpdateCheck::BusyGuard() {
  if (m_cWeb->IsActive()) Raise(uceBusy, kUpdateCheckSource, kBusyDescription);
}

bool UpdateCheck::IsActive() {
  const auto self = shared_from_this();
  return m_cWeb->IsActive();
}

void UpdateCheck::StartCheck(std::u16string strURL) {
  const auto self = shared_from_this();
  BusyGuard();
  const auto answer = m_cWeb->GetURL(strURL);
  if (answer == clsPrivateWeb::Answer::kNotArmed) {
    Raise(uceAsync, kUpdateCheckSource, kAsyncDescription);
  }
  if (answer == clsPrivateWeb::Answer::kBusy) Raise(uceBusy, kUpdateCheckSource, kBusyDescription);
  m_strURL = std::move(strURL);
}

bool UpdateCheck::IsUpgradeAvailable(int32_t lMajor, int32_t lMinor, int32_t lBuild) {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->IsUpgradeAvailable(lMajor, lMinor, lBuild);
}

int32_t UpdateCheck::Major() {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->Major();
}

int32_t UpdateCheck::Minor() {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->Minor();
}

int32_t UpdateCheck::Build() {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->Build();
}

std::u16string UpdateCheck::UpdateURL() {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->UpdateURL();
}

std::u16string UpdateCheck::VersionHistory() {
  const auto self = shared_from_this();
  BusyGuard();
  return m_cVersionTest->VersionHistory();
}

void UpdateCheck::m_cWeb_DataCollected(int32_t lError, std::u16string strData) {
  if (lError != 0) {
    UpdateCheckComplete.Raise(lError, kInetDescription);
    return;
  }
  // A parser error (overflow) leaves this handler and comes back as a second
  // DataCollected carrying its number.
  if (m_cVersionTest->ExtractData(m_strURL, std::move(strData))) {
    UpdateCheckComplete.Raise(0, std::u16string());
  } else {
    UpdateCheckComplete.Raise(uceInvalidFile, kInvalidFileDescription);
  }
}

}  // namespace qel
