// UpdateCheck through real activation: what a host sees of a check.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "common/error.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace qel::test {
namespace {

using com::Bstr;

HRESULT StartCheck(_UpdateCheck* object, const std::u16string& url) {
  const Bstr text(url);
  return object->StartCheck(text.Get());
}

// Everything the object publishes, and the first failure reading it.
struct Published {
  HRESULT hr = S_OK;
  VARIANT_BOOL active = 1;
  LONG major = -1, minor = -1, build = -1;
  std::u16string updateURL, versionHistory;
};

Published ReadPublished(_UpdateCheck* object) {
  Published p;
  Bstr update, history;
  const HRESULT results[] = {
      object->IsActive(&p.active),         object->get_Major(&p.major),
      object->get_Minor(&p.minor),         object->get_Build(&p.build),
      object->get_UpdateURL(update.Put()), object->get_VersionHistory(history.Put())};
  for (HRESULT hr : results) {
    if (FAILED(hr) && SUCCEEDED(p.hr)) p.hr = hr;
  }
  p.updateURL = update.Text();
  p.versionHistory = history.Text();
  return p;
}

class UpdateCheckCom : public ::testing::Test {
 protected:
  void SetUp() override {
    m_object = CreateUpdateCheck();
    ASSERT_TRUE(m_object);
  }

  // A valid version file at `path` naming its own URL; returns that URL.
  std::u16string PutVersionFile(const std::string& path, const std::string& major = "2") {
    m_web.Put(path, VersionFile(m_web.Url(path), major));
    return m_web.UrlText(path);
  }

  // Starts a check of a file that takes a second to arrive, lets its download
  // get under way, runs `probe`, and sees the check to its end: one event,
  // for the running check and its own URL.
  void DuringADownload(const std::function<void()>& probe) {
    const std::string path = "/delay?ms=1000&then=/busy.txt";
    m_web.Put("/busy.txt", VersionFile(m_web.Url(path)));
    const auto sink = EventSink::Create();
    const Advised advised(m_object.Get(), sink.Get());
    ASSERT_EQ(advised.Result(), S_OK);
    ASSERT_EQ(StartCheck(m_object.Get(), m_web.UrlText(path)), S_OK);
    PumpFor(std::chrono::milliseconds(200));
    ASSERT_TRUE(sink->Events().empty());
    ASSERT_EQ(m_web.RequestCount(path), 1u) << "the download is under way";
    probe();
    ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
    PumpFor(std::chrono::milliseconds(100));
    ASSERT_EQ(sink->Events().size(), 1u);
    EXPECT_EQ(sink->Events()[0].number, 0);
  }

  LoopbackServer m_web;
  ComPtr<_UpdateCheck> m_object;
};

TEST_F(UpdateCheckCom, NewObjectPublishesNothingYet) {
  const Published p = ReadPublished(m_object.Get());
  EXPECT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.active, VARIANT_FALSE);
  EXPECT_EQ(p.major, 0);
  EXPECT_EQ(p.minor, 0);
  EXPECT_EQ(p.build, 0);
  EXPECT_EQ(p.updateURL, u"");
  EXPECT_EQ(p.versionHistory, u"");
  VARIANT_BOOL upgrade = 1;
  EXPECT_EQ(m_object->IsUpgradeAvailable(0, 0, 0, &upgrade), S_OK);
  EXPECT_EQ(upgrade, VARIANT_FALSE);
  EXPECT_EQ(m_object->IsUpgradeAvailable(1, 0, 0, &upgrade), S_OK);
  EXPECT_EQ(upgrade, VARIANT_TRUE);
}

TEST_F(UpdateCheckCom, GoodCheckEndsIdleWithEveryValueReadableInTheHandler) {
  const std::u16string url = PutVersionFile("/good.txt");
  Published inHandler;
  const auto sink = EventSink::Create(EventSink::Options::Calling(
      [&](int32_t, const std::u16string&) { inHandler = ReadPublished(m_object.Get()); }));
  const Advised advised(m_object.Get(), sink.Get());
  ASSERT_EQ(advised.Result(), S_OK);

  ASSERT_EQ(StartCheck(m_object.Get(), url), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
  PumpFor(std::chrono::milliseconds(100));

  ASSERT_EQ(sink->Events().size(), 1u);
  EXPECT_EQ(sink->Events()[0].number, 0);
  EXPECT_EQ(sink->Events()[0].description, u"");
  EXPECT_TRUE(sink->Faults().empty());
  EXPECT_EQ(inHandler.hr, S_OK);
  EXPECT_EQ(inHandler.active, VARIANT_FALSE);
  EXPECT_EQ(inHandler.major, 2);
  EXPECT_EQ(inHandler.minor, 0);
  EXPECT_EQ(inHandler.build, 15);
  EXPECT_EQ(inHandler.updateURL, kUpdateText);
  EXPECT_EQ(inHandler.versionHistory, kHistoryText);
}

TEST_F(UpdateCheckCom, UpgradeIsAvailableWhenTheHostsVersionDiffers) {
  const auto sink = EventSink::Create();
  const Advised advised(m_object.Get(), sink.Get());
  ASSERT_EQ(StartCheck(m_object.Get(), PutVersionFile("/upgrade.txt")), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
  ASSERT_EQ(sink->Events()[0].number, 0);

  const struct {
    LONG major, minor, build;
    VARIANT_BOOL expected;
  } cases[] = {{2, 0, 15, VARIANT_FALSE}, {2, 1, 15, VARIANT_TRUE}, {2, 0, 14, VARIANT_TRUE}};
  for (const auto& c : cases) {
    VARIANT_BOOL upgrade = 1;
    EXPECT_EQ(m_object->IsUpgradeAvailable(c.major, c.minor, c.build, &upgrade), S_OK);
    EXPECT_EQ(upgrade, c.expected) << c.major << "." << c.minor << "." << c.build;
  }
  // The same through late binding, as script hosts ask.
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(m_object.As(dispatch), S_OK);
  LateBoundCall call;
  CallByName(dispatch.Get(), L"IsUpgradeAvailable", DISPATCH_METHOD, {2, 1, 15}, call);
  EXPECT_EQ(call.hr, S_OK);
  EXPECT_EQ(call.result->vt, VT_BOOL);
  EXPECT_EQ(call.result->boolVal, VARIANT_TRUE);
}

TEST_F(UpdateCheckCom, EveryOutcomeArrivesOnceAsTheEventsArguments) {
  m_web.Put("/other.txt", VersionFile(m_web.Url("/elsewhere.txt")));
  m_web.Put("/overflow.txt", VersionFile(m_web.Url("/overflow.txt"), "99999999999"));
  const std::string delayed = "/delay?ms=1500&then=/delayed.txt";
  m_web.Put("/delayed.txt", VersionFile(m_web.Url(delayed)));
  const struct {
    const char* name;
    std::u16string url;
    int32_t number;
    const char16_t* description;
  } cases[] = {
      {"file names another URL", m_web.UrlText("/other.txt"), uceInvalidFile,
       kInvalidFileDescription},
      {"connection refused",
       TextOf("http://127.0.0.1:" + std::to_string(m_web.RefusedPort()) + "/version.txt"), 12029,
       kInetDescription},
      {"number overflows", m_web.UrlText("/overflow.txt"), kErrOverflow, kInetDescription},
      // The host that started the server has QELUPDATECHECK_TEST_LIMIT_MS=200
      // in its environment (CMakeLists.txt): the limits stay a minute.
      {"answer after 1.5 s", m_web.UrlText(delayed), 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto sink = EventSink::Create();
    const Advised advised(m_object.Get(), sink.Get());
    ASSERT_EQ(StartCheck(m_object.Get(), c.url), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
    PumpFor(std::chrono::milliseconds(100));
    ASSERT_EQ(sink->Events().size(), 1u);
    EXPECT_EQ(sink->Events()[0].number, c.number);
    EXPECT_EQ(sink->Events()[0].description, c.description);
    VARIANT_BOOL active = 1;
    EXPECT_EQ(m_object->IsActive(&active), S_OK);
    EXPECT_EQ(active, VARIANT_FALSE);
  }
}

TEST_F(UpdateCheckCom, StartCheckFromTheHandlerStartsTheNextCheck) {
  const std::u16string first = PutVersionFile("/first.txt");
  const std::u16string second = PutVersionFile("/second.txt", "3");
  HRESULT restart = E_FAIL;
  const auto sink =
      EventSink::Create(EventSink::Options::Calling([&](int32_t, const std::u16string&) {
        if (restart == E_FAIL) restart = StartCheck(m_object.Get(), second);
      }));
  const Advised advised(m_object.Get(), sink.Get());
  ASSERT_EQ(StartCheck(m_object.Get(), first), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink->Events().size() >= 2; }));
  EXPECT_EQ(restart, S_OK);
  EXPECT_EQ(sink->Events()[0].number, 0);
  EXPECT_EQ(sink->Events()[1].number, 0);
  LONG major = 0;
  EXPECT_EQ(m_object->get_Major(&major), S_OK);
  EXPECT_EQ(major, 3);
}

TEST_F(UpdateCheckCom, GuardedMembersAreRefusedWhileACheckRuns) {
  const std::u16string other = PutVersionFile("/busy-other.txt");
  _UpdateCheck* o = m_object.Get();
  const struct {
    const char* name;
    std::function<HRESULT()> call;
  } members[] = {
      {"StartCheck", [&] { return StartCheck(o, other); }},
      {"IsUpgradeAvailable",
       [&] {
         VARIANT_BOOL b;
         return o->IsUpgradeAvailable(2, 0, 15, &b);
       }},
      {"Major",
       [&] {
         LONG v;
         return o->get_Major(&v);
       }},
      {"Minor",
       [&] {
         LONG v;
         return o->get_Minor(&v);
       }},
      {"Build",
       [&] {
         LONG v;
         return o->get_Build(&v);
       }},
      {"UpdateURL",
       [&] {
         Bstr v;
         return o->get_UpdateURL(v.Put());
       }},
      {"VersionHistory",
       [&] {
         Bstr v;
         return o->get_VersionHistory(v.Put());
       }},
  };
  DuringADownload([&] {
    for (const auto& member : members) {
      // Rich error information is lost on this path under Wine; the result
      // code arrives.
      EXPECT_EQ(member.call(), static_cast<HRESULT>(uceBusy)) << member.name;
    }
    VARIANT_BOOL active = 0;
    EXPECT_EQ(o->IsActive(&active), S_OK);
    EXPECT_EQ(active, VARIANT_TRUE);
  });
}

TEST_F(UpdateCheckCom, RefusalsCarryTheWholeErrorThroughIDispatch) {
  const std::u16string other = PutVersionFile("/busy-other.txt");
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(m_object.As(dispatch), S_OK);
  const struct {
    const wchar_t* name;
    WORD flags;
    std::vector<Argument> arguments;
  } members[] = {{L"StartCheck", DISPATCH_METHOD, {other}},
                 {L"IsUpgradeAvailable", DISPATCH_METHOD, {2, 0, 15}},
                 {L"Major", DISPATCH_PROPERTYGET, {}},
                 {L"Minor", DISPATCH_PROPERTYGET, {}},
                 {L"Build", DISPATCH_PROPERTYGET, {}},
                 {L"UpdateURL", DISPATCH_PROPERTYGET, {}},
                 {L"VersionHistory", DISPATCH_PROPERTYGET, {}}};
  DuringADownload([&] {
    for (const auto& member : members) {
      SCOPED_TRACE(TextToUtf8(com::AsText(member.name)));
      LateBoundCall call;
      CallByName(dispatch.Get(), member.name, member.flags, member.arguments, call);
      ASSERT_EQ(call.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(call.excepInfo->scode, static_cast<SCODE>(uceBusy));
      EXPECT_EQ(TextOf(call.excepInfo->bstrSource), kUpdateCheckSource);
      EXPECT_EQ(TextOf(call.excepInfo->bstrDescription), kBusyDescription);
      EXPECT_EQ(TextOf(call.excepInfo->bstrHelpFile), u"");
      EXPECT_EQ(call.excepInfo->dwHelpContext, 0u);
    }
    LateBoundCall active;
    CallByName(dispatch.Get(), L"IsActive", DISPATCH_METHOD, {}, active);
    EXPECT_EQ(active.hr, S_OK);
    EXPECT_EQ(active.result->vt, VT_BOOL);
    EXPECT_EQ(active.result->boolVal, VARIANT_TRUE);
  });
  EXPECT_EQ(m_web.RequestCount("/busy-other.txt"), 0u);
}

TEST_F(UpdateCheckCom, EachObjectChecksOnItsOwnThread) {
  // Three checks stall on one server, more than WinINet lets a process hold
  // to a server unless the limit is raised; a fourth object's check of the
  // same server must still get through.
  const std::string slowUrl = m_web.Url("/stall?ms=3000&then=/slow.txt");
  m_web.Put("/slow.txt", VersionFile(slowUrl));
  const std::u16string fastUrl = PutVersionFile("/fast.txt");
  std::vector<ComPtr<_UpdateCheck>> slowObjects{m_object};
  while (slowObjects.size() < 3) slowObjects.push_back(CreateUpdateCheck());
  const ComPtr<_UpdateCheck> other = CreateUpdateCheck();
  ASSERT_TRUE(other);
  std::vector<ComPtr<EventSink>> slowSinks;
  std::vector<std::unique_ptr<Advised>> slowAdvised;
  for (const auto& slow : slowObjects) {
    ASSERT_TRUE(slow);
    slowSinks.push_back(EventSink::Create());
    slowAdvised.push_back(std::make_unique<Advised>(slow.Get(), slowSinks.back().Get()));
    ASSERT_EQ(StartCheck(slow.Get(), TextOf(slowUrl)), S_OK);
  }
  const auto anySlowEvent = [&] {
    return std::any_of(slowSinks.begin(), slowSinks.end(),
                       [](const auto& sink) { return !sink->Events().empty(); });
  };
  const auto fastSink = EventSink::Create();
  const Advised fastAdvised(other.Get(), fastSink.Get());

  ASSERT_EQ(StartCheck(other.Get(), fastUrl), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !fastSink->Events().empty() || anySlowEvent(); }));
  // Had the objects shared a thread, or their checks a connection, the
  // stalled downloads would have held the other check back until they ended.
  EXPECT_EQ(fastSink->Events().size(), 1u);
  EXPECT_FALSE(anySlowEvent());
  for (const auto& sink : slowSinks) {
    ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
    EXPECT_EQ(sink->Events()[0].number, 0);
  }
  EXPECT_EQ(fastSink->Events()[0].number, 0);
}

}  // namespace
}  // namespace qel::test
