// UpdateCheck in-process: the busy guard, the three outcomes of a check, and
// values carried from check to check.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/host.h"
#include "tests/support/loopback_suite.h"
#include "tests/support/test_support.h"
#include "trigger/modTimer.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel {
namespace {

using test::Completion;

class UpdateCheckTest : public test::LoopbackSuite {
 protected:
  // Serves `body` at `path` and runs one check of it to completion.
  Completion Check(const std::string& path, const std::string& body) {
    Web().Put(path, body);
    return CheckURL(Web().UrlText(path));
  }
  Completion CheckURL(const std::u16string& url) {
    const size_t before = m_host.events.size();
    m_host.check->StartCheck(url);
    EXPECT_TRUE(m_host.WaitForEvents(before + 1));
    test::WaitFor([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_EQ(m_host.events.size(), before + 1) << "exactly one completion per check";
    return m_host.events.empty() ? Completion{-1, u""} : m_host.events.back();
  }
  static std::string Url(const std::string& path) { return Web().Url(path); }

  test::Host m_host;
};

// Runs f and returns the error it raised (number 0 if none).
Error Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, u"", u"");
}

TEST_F(UpdateCheckTest, NewObjectValues) {
  EXPECT_FALSE(m_host.check->IsActive());
  EXPECT_EQ(m_host.check->Major(), 0);
  EXPECT_EQ(m_host.check->Minor(), 0);
  EXPECT_EQ(m_host.check->Build(), 0);
  EXPECT_EQ(m_host.check->UpdateURL(), u"");
  EXPECT_EQ(m_host.check->VersionHistory(), u"");
  EXPECT_FALSE(m_host.check->IsUpgradeAvailable(0, 0, 0));
  EXPECT_TRUE(m_host.check->IsUpgradeAvailable(0, 0, 1));
}

TEST_F(UpdateCheckTest, GoodCheckPublishesTheValuesAndIsIdleInsideTheHandler) {
  bool activeInside = true;
  int32_t majorInside = 0;
  std::u16string historyInside;
  m_host.onEvent = [&](int32_t) {
    activeInside = m_host.check->IsActive();
    majorInside = m_host.check->Major();
    historyInside = m_host.check->VersionHistory();
  };
  const Completion c = Check("/uc/good.txt", test::VersionFile(Url("/uc/good.txt")));
  EXPECT_EQ(c.number, 0);
  EXPECT_EQ(c.description, u"");
  EXPECT_FALSE(activeInside);
  EXPECT_EQ(majorInside, 2);
  EXPECT_EQ(historyInside, test::kHistoryText);
  EXPECT_EQ(m_host.check->Minor(), 0);
  EXPECT_EQ(m_host.check->Build(), 15);
  EXPECT_EQ(m_host.check->UpdateURL(), test::kUpdateText);
  EXPECT_FALSE(m_host.check->IsUpgradeAvailable(2, 0, 15));
  EXPECT_TRUE(m_host.check->IsUpgradeAvailable(2, 1, 15));
  EXPECT_TRUE(m_host.check->IsUpgradeAvailable(3, 0, 15));
}

TEST_F(UpdateCheckTest, EveryGuardedMemberIsRefusedForTheWholeCheck) {
  // The file takes a second to arrive; its download is well under way when
  // the members are called, and they answer at once.
  const std::string path = "/delay?ms=1000&then=/uc/busy.txt";
  Web().Put("/uc/busy.txt", test::VersionFile(Url(path)));
  m_host.check->StartCheck(Web().UrlText(path));
  test::WaitFor([] { return false; }, std::chrono::milliseconds(200));
  ASSERT_TRUE(m_host.events.empty());
  EXPECT_EQ(Web().RequestCount("/delay"), 1u) << "the download is under way";
  EXPECT_TRUE(m_host.check->IsActive());
  const std::vector<std::pair<const char*, std::function<void()>>> guarded = {
      {"StartCheck", [&] { m_host.check->StartCheck(Web().UrlText("/uc/other.txt")); }},
      {"IsUpgradeAvailable", [&] { m_host.check->IsUpgradeAvailable(1, 2, 3); }},
      {"Major", [&] { m_host.check->Major(); }},
      {"Minor", [&] { m_host.check->Minor(); }},
      {"Build", [&] { m_host.check->Build(); }},
      {"UpdateURL", [&] { m_host.check->UpdateURL(); }},
      {"VersionHistory", [&] { m_host.check->VersionHistory(); }},
  };
  for (const auto& [name, call] : guarded) {
    const Error e = Raised(call);
    EXPECT_EQ(e.Number(), uceBusy) << name;
    EXPECT_EQ(e.Number(), -2147219003) << name;
    EXPECT_EQ(e.Source(), u"QELUpdateCheck1_0:UpdateCheck:") << name;
    EXPECT_EQ(e.Description(),
              u"This object is already processing a request. New request rejected.")
        << name;
    EXPECT_EQ(e.HelpFile(), u"") << name;
    EXPECT_EQ(e.HelpContext(), 0) << name;
  }
  EXPECT_TRUE(m_host.check->IsActive());
  // The running check goes on with its own URL.
  ASSERT_TRUE(test::WaitFor([&] { return !m_host.events.empty(); }));
  EXPECT_EQ(m_host.events[0].number, 0);
  EXPECT_EQ(Web().RequestCount("/uc/other.txt"), 0u);
}

struct OutcomeCase {
  const char* name;
  std::function<std::string(const std::string& url)> body;
  int32_t number;
  std::u16string description;
};

TEST_F(UpdateCheckTest, OutcomesOfACheck) {
  const std::u16string invalid = u"The revision history file is not in the expected format.";
  const std::u16string inet =
      u"A error occurred in the inet library, this should be looked up on the returned error "
      u"code.";
  const std::vector<OutcomeCase> cases = {
      {"accepted", [](const std::string& u) { return test::VersionFile(u); }, 0, u""},
      {"file= names another URL", [](const std::string& u) { return test::VersionFile(u + "x"); },
       -2147219000, invalid},
      {"file= differs in case",
       [](const std::string& u) { return test::VersionFile("HTTP" + u.substr(4)); }, -2147219000,
       invalid},
      {"not a version file", [](const std::string&) { return std::string("<html/>"); }, -2147219000,
       invalid},
      {"empty body", [](const std::string&) { return std::string(); }, -2147219000, invalid},
      {"build overflows",
       [](const std::string& u) { return test::VersionFile(u, "2", "0", "2147483648"); }, 6, inet},
      {"major overflows", [](const std::string& u) { return test::VersionFile(u, "1e10"); }, 6,
       inet},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string path = "/uc/outcome" + std::to_string(i++) + ".txt";
    const Completion got = Check(path, c.body(Url(path)));
    EXPECT_EQ(got.number, c.number) << c.name;
    EXPECT_EQ(got.description, c.description) << c.name;
    EXPECT_FALSE(m_host.check->IsActive()) << c.name;
  }
}

TEST_F(UpdateCheckTest, FailedDownloadPassesTheNumberOn) {
  const std::u16string url =
      u"http://127.0.0.1:" + Utf8ToText(std::to_string(Web().RefusedPort())) + u"/v.txt";
  const Completion c = CheckURL(url);
  EXPECT_EQ(c.number, static_cast<int32_t>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(c.description,
            u"A error occurred in the inet library, this should be looked up on the returned "
            u"error code.");
}

TEST_F(UpdateCheckTest, PublishedValuesCarryOverAndAFailedCheckStoresNothing) {
  ASSERT_EQ(Check("/uc/v1.txt", test::VersionFile(Url("/uc/v1.txt"), "3", "4", "5")).number, 0);
  const auto expectOld = [&](const char* what) {
    EXPECT_EQ(m_host.check->Major(), 3) << what;
    EXPECT_EQ(m_host.check->Minor(), 4) << what;
    EXPECT_EQ(m_host.check->Build(), 5) << what;
    EXPECT_EQ(m_host.check->UpdateURL(), test::kUpdateText) << what;
    EXPECT_EQ(m_host.check->VersionHistory(), test::kHistoryText) << what;
  };
  const std::string bad = "file=" + Url("/uc/v2.txt") + "\r\nmajor=7\r\nminor=\r\n";
  EXPECT_EQ(Check("/uc/v2.txt", bad).number, uceInvalidFile);
  expectOld("refused file");
  const Completion overflow =
      Check("/uc/v3.txt", test::VersionFile(Url("/uc/v3.txt"), "7", "8", "2147483648"));
  EXPECT_EQ(overflow.number, kErrOverflow);
  EXPECT_EQ(overflow.description,
            u"A error occurred in the inet library, this should be looked up on the returned "
            u"error code.");
  expectOld("overflow");
  const std::u16string refused =
      u"http://127.0.0.1:" + Utf8ToText(std::to_string(Web().RefusedPort())) + u"/";
  EXPECT_NE(CheckURL(refused).number, 0);
  expectOld("failed download");
}

TEST_F(UpdateCheckTest, StartCheckFromInsideTheHandlerStartsTheNextCheck) {
  Web().Put("/uc/next.txt", test::VersionFile(Url("/uc/next.txt"), "9"));
  bool started = false;
  m_host.onEvent = [&](int32_t) {
    if (m_host.events.size() == 1) {
      m_host.check->StartCheck(Web().UrlText("/uc/next.txt"));
      started = m_host.check->IsActive();
    }
  };
  Web().Put("/uc/first.txt", test::VersionFile(Url("/uc/first.txt")));
  m_host.check->StartCheck(Web().UrlText("/uc/first.txt"));
  ASSERT_TRUE(test::WaitFor([&] { return m_host.events.size() == 2; }));
  EXPECT_TRUE(started);
  EXPECT_EQ(m_host.events[1].number, 0);
  EXPECT_EQ(m_host.check->Major(), 9);
}

TEST_F(UpdateCheckTest, AHandlerThatStartsTheNextCheckAndThenFailsLeavesThatCheckRunning) {
  Web().Put("/uc/a.txt", test::VersionFile(Url("/uc/a.txt")));
  Web().Put("/uc/b.txt", test::VersionFile(Url("/uc/b.txt"), "5"));
  bool activeAfterFailing = false;
  m_host.onEvent = [&](int32_t) {
    if (m_host.events.size() != 1) return;
    m_host.check->StartCheck(Web().UrlText("/uc/b.txt"));
    Raise(1234, u"host", u"the host's handler failed");
  };
  m_host.check->StartCheck(Web().UrlText("/uc/a.txt"));
  ASSERT_TRUE(test::WaitFor([&] { return !m_host.events.empty(); }));
  activeAfterFailing = m_host.check->IsActive();
  ASSERT_TRUE(test::WaitFor([&] { return m_host.events.size() >= 2; }));
  test::WaitFor([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_TRUE(activeAfterFailing) << "the second check stays busy";
  ASSERT_EQ(m_host.events.size(), 2u) << "each check reports exactly once";
  EXPECT_EQ(m_host.events[1].number, 0) << "the second check keeps its URL";
  EXPECT_EQ(m_host.check->Major(), 5);
  EXPECT_EQ(Web().RequestCount("/uc/b.txt"), 1u);
}

TEST_F(UpdateCheckTest, TriggerThatCannotArmRaisesAsyncAndKeepsTheOldURL) {
  ASSERT_EQ(Check("/uc/keep.txt", test::VersionFile(Url("/uc/keep.txt"))).number, 0);
  modTimer::RefuseTimersForTesting(1);
  const Error e = Raised([&] { m_host.check->StartCheck(Web().UrlText("/uc/elsewhere.txt")); });
  EXPECT_EQ(e.Number(), uceAsync);
  EXPECT_EQ(e.Number(), -2147219002);
  EXPECT_EQ(e.Source(), u"QELUpdateCheck1_0:UpdateCheck:");
  EXPECT_EQ(e.Description(), u"Failed to start the request thread.");
  EXPECT_FALSE(m_host.check->IsActive());
  test::WaitFor([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(m_host.events.size(), 1u);
  // The next check is still parsed against the URL of the last started one.
  EXPECT_EQ(Check("/uc/keep.txt", test::VersionFile(Url("/uc/keep.txt"), "4")).number, 0);
  EXPECT_EQ(m_host.check->Major(), 4);
}

TEST_F(UpdateCheckTest, ObjectReleasedWhileArmedRaisesNothing) {
  Web().Put("/uc/drop.txt", test::VersionFile(Url("/uc/drop.txt")));
  m_host.check->StartCheck(Web().UrlText("/uc/drop.txt"));
  std::weak_ptr<UpdateCheck> watch = m_host.check;
  m_host.check.reset();
  EXPECT_TRUE(watch.expired());
  test::WaitFor([] { return false; }, std::chrono::milliseconds(80));
  EXPECT_TRUE(m_host.events.empty());
  EXPECT_EQ(Web().RequestCount("/uc/drop.txt"), 0u);
}

TEST_F(UpdateCheckTest, ObjectReleasedFromInsideItsOwnHandler) {
  std::weak_ptr<UpdateCheck> watch = m_host.check;
  m_host.onEvent = [&](int32_t) { m_host.check.reset(); };
  Web().Put("/uc/self.txt", test::VersionFile(Url("/uc/self.txt")));
  m_host.check->StartCheck(Web().UrlText("/uc/self.txt"));
  ASSERT_TRUE(test::WaitFor([&] { return !m_host.events.empty(); }));
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(m_host.events.size(), 1u);
}

}  // namespace
}  // namespace qel
