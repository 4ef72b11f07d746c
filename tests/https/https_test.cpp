// Checks over HTTPS, in-process in both builds, against the test run's own
// TLS front (tests/scripts/tls_front.py): a trusted certificate publishes,
// each bad one ends with its WinINet code and stores nothing.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <wincrypt.h>
#endif

namespace qel {
namespace {

// Each bad certificate and the WinINet error it must end with, natively and
// under Wine. Wine's crypt32 reports an unknown CA as a failed revocation
// check (12057); Windows reports 12045, as the Linux stand-in does.
struct TlsCase {
  const char* szServer;
  DWORD lNative;
  DWORD lUnderWine;
};
const TlsCase kBadCertificates[] = {
    {"expired", ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {"wrongname", ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {"untrusted", ERROR_INTERNET_INVALID_CA, 12057 /* ERROR_INTERNET_SEC_CERT_REV_FAILED */},
};

DWORD Expected(const TlsCase& row) {
#ifdef _WIN32
  return row.lUnderWine;
#else
  return row.lNative;
#endif
}

// "good=<port>,expired=<port>,..." from the front.
std::map<std::string, std::string> FrontPorts() {
  std::map<std::string, std::string> ports;
  const char* szList = std::getenv("QEL_TLS_PORTS");
  std::stringstream list(szList != nullptr ? szList : "");
  for (std::string item; std::getline(list, item, ',');) {
    const size_t lEquals = item.find('=');
    if (lEquals != std::string::npos) ports[item.substr(0, lEquals)] = item.substr(lEquals + 1);
  }
  return ports;
}

#ifdef _WIN32
// What `certutil -addstore Root` does: the CA joins the machine's Root store,
// where it stays for the test prefix.
bool TrustTestCa() {
  const char* szPem = std::getenv("QEL_TEST_CA_PEM");
  if (szPem == nullptr) return false;
  DWORD lSize = 0;
  if (!CryptStringToBinaryA(szPem, 0, CRYPT_STRING_BASE64HEADER, nullptr, &lSize, nullptr,
                            nullptr)) {
    return false;
  }
  std::vector<BYTE> der(lSize);
  if (!CryptStringToBinaryA(szPem, 0, CRYPT_STRING_BASE64HEADER, der.data(), &lSize, nullptr,
                            nullptr)) {
    return false;
  }
  const HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return false;
  const BOOL bAdded = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), lSize,
                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return bAdded != FALSE;
}
#else
bool TrustTestCa() { return std::getenv("QEL_TEST_CA_FILE") != nullptr; }
#endif

struct Completion {
  int32_t lNumber = -1;
  bool bDone = false;
};

class HttpsCheck : public testing::Test {
 protected:
  static void SetUpTestSuite() { s_bTrusted = TrustTestCa(); }
  void SetUp() override {
    ASSERT_TRUE(s_bTrusted) << "run through tests/scripts/tls_front.py";
    ASSERT_EQ(m_ports.size(), 4u);
  }

  std::u16string Url(const std::string& server) const {
    return Utf8ToText("https://localhost:" + m_ports.at(server) + "/app/version.txt");
  }
  int32_t Check(const std::u16string& url) {
    Completion done;
    const Connection binding =
        m_check->UpdateCheckComplete.Bind([&](int32_t lNumber, const std::u16string&) {
          done = {lNumber, true};
        });
    m_check->StartCheck(url);
    EXPECT_TRUE(test::WaitFor([&] { return done.bDone; }, std::chrono::seconds(30)));
    return done.lNumber;
  }

  static bool s_bTrusted;
  const std::map<std::string, std::string> m_ports = FrontPorts();
  std::shared_ptr<UpdateCheck> m_check = UpdateCheck::Create();
};
bool HttpsCheck::s_bTrusted = false;

TEST_F(HttpsCheck, TrustedCertificatePublishesAndBadOnesStoreNothing) {
  ASSERT_EQ(Check(Url("good")), 0);
  const auto expectGood = [&](const char* szAfter) {
    EXPECT_EQ(m_check->Major(), 3) << szAfter;
    EXPECT_EQ(m_check->Minor(), 1) << szAfter;
    EXPECT_EQ(m_check->Build(), 4) << szAfter;
    EXPECT_EQ(m_check->UpdateURL(), u"https://localhost/setup.exe") << szAfter;
    EXPECT_EQ(m_check->VersionHistory(), u"Over TLS\r\n") << szAfter;
  };
  expectGood("good");
  // Each bad server serves a valid file with a major number of its own, so a
  // certificate let through would show.
  for (const TlsCase& row : kBadCertificates) {
    EXPECT_EQ(Check(Url(row.szServer)), static_cast<int32_t>(Expected(row))) << row.szServer;
    expectGood(row.szServer);
  }
}

}  // namespace
}  // namespace qel
