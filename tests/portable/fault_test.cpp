// Faults a check can meet, with the object in-process: every started check
// ends in exactly one completion (none for an object let go before its
// trigger fired), and nothing is left behind: no internet handle, no timer.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/fault_cases.h"
#include "tests/support/host.h"
#include "tests/support/hostile_responses.h"
#include "tests/support/loopback_server.h"
#include "tests/support/loopback_suite.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel {
namespace {

using namespace std::chrono_literals;

using test::Completion;
using test::Host;

// Long enough for a repeating timer or a second report to show itself.
constexpr auto kQuietPeriod = 100ms;
// A check's limits, shortened so that hostile servers end it quickly.
const CheckLimits kShortLimits = CheckLimits::Within(1500ms);

class FaultTest : public test::LoopbackSuite {
 protected:
  // Serves a valid version file at `path` whose "file=" line names `named`.
  static void PutVersionFile(const std::string& path, const std::string& named) {
    Web().Put(path, test::VersionFile(named));
  }

  // Starts a check and waits for its completion, then for a quiet spell in
  // which no second one may come. False if none came in time.
  static bool CheckToTheEnd(Host& host, const std::u16string& url,
                            std::chrono::milliseconds timeout = 10s) {
    const size_t before = host.events.size();
    host.check->StartCheck(url);
    const bool ended = test::WaitFor([&] { return host.events.size() > before; }, timeout);
    test::WaitFor([] { return false; }, kQuietPeriod);
    return ended;
  }
};

std::u16string Text(const std::string& utf8) { return Utf8ToText(utf8); }

TEST_F(FaultTest, EveryFaultEndsInOneCompletionAndTheObjectWorksOnAfterIt) {
  const std::u16string good = test::GoodFile(Web());
  for (const test::FaultCase& c : test::FaultCases(Web())) {
    SCOPED_TRACE(c.name);
    Host host;
    const size_t requests = Web().RequestLines().size();
    ASSERT_TRUE(CheckToTheEnd(host, c.url, c.timeout));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].number, c.number);
    EXPECT_EQ(host.events[0].description, c.description);
    if (c.number == static_cast<int32_t>(ERROR_INTERNET_INVALID_URL)) {
      const auto lines = Web().RequestLines();
      EXPECT_EQ(lines.size(), requests) << "refused, yet it sent " << lines.back();
    }
    EXPECT_FALSE(host.check->IsActive());
    // The fault is over: the same object checks a good file.
    ASSERT_TRUE(CheckToTheEnd(host, good));
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[1].number, 0);
  }
}

TEST_F(FaultTest, EveryHostileServerEndsAtTheChecksLimitOnce) {
  // All at once, each with its limits shortened: one object's hostile server
  // holds up no other.
  const auto hostile = test::HostileResponses();
  std::vector<std::unique_ptr<Host>> hosts;
  for (const auto& h : hostile) {
    hosts.push_back(std::make_unique<Host>(kShortLimits));
    hosts.back()->check->StartCheck(Web().UrlText(h.path));
  }
  ASSERT_TRUE(test::WaitFor(
      [&] {
        for (const auto& host : hosts) {
          if (host->events.empty()) return false;
        }
        return true;
      },
      30s));
  test::WaitFor([] { return false; }, kQuietPeriod);
  for (size_t i = 0; i < hostile.size(); ++i) {
    SCOPED_TRACE(hostile[i].name);
    ASSERT_EQ(hosts[i]->events.size(), 1u);
    const int32_t number = hosts[i]->events[0].number;
    EXPECT_NE(std::find(hostile[i].numbers.begin(), hostile[i].numbers.end(), number),
              hostile[i].numbers.end())
        << "ended with " << number;
    EXPECT_EQ(hosts[i]->events[0].description, kInetDescription);
  }
  hosts.clear();
#ifndef _WIN32
  // Given up: nothing of theirs is left once their calls have ended.
  test::WaitFor([] { return platform::OpenInternetHandleCount() == 0; }, kShortLimits.wait + 2s);
#endif
}

TEST_F(FaultTest, BinaryHistoryArrivesWholeInTheCodePage) {
  // NUL, control and high bytes in the history are text like any other.
  const std::string url = Web().Url("/fault/binary-history.txt");
  Web().Put("/fault/binary-history.txt", "file=" + url +
                                             "\r\nmajor=1\r\nminor=0\r\nbuild=0\r\nupdate=u\r\n" +
                                             std::string("\x00\x01\xe9\x80\xff\r\n", 7));
  Host host;
  ASSERT_TRUE(CheckToTheEnd(host, Text(url)));
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].number, 0);
  EXPECT_EQ(host.check->VersionHistory(), std::u16string(u"\u0000\u0001\u00e9\u20ac\u00ff\r\n", 7));
}

TEST_F(FaultTest, AnObjectLetGoWhileArmedNeverRequestsNorReports) {
  const std::string path = "/stall?ms=300&then=/fault/never.txt";
  PutVersionFile("/fault/never.txt", Web().Url(path));
  const size_t requests = Web().RequestCount(path);
  std::vector<Completion> events;
  Connection binding;
  {
    auto check = UpdateCheck::Create();
    binding = check->UpdateCheckComplete.Bind([&](int32_t n, std::u16string d) {
      events.push_back({n, std::move(d)});
    });
    check->StartCheck(Web().UrlText(path));
    EXPECT_TRUE(check->IsActive());
  }
  test::WaitFor([] { return false; }, 300ms);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(Web().RequestCount(path), requests);
}

TEST_F(FaultTest, AnObjectLetGoDuringItsDownloadGoesAtOnceAndNeverReports) {
  const std::string path =
      "/stall?ms=" + std::to_string(test::LoopbackServer::kForeverMs) + "&then=/let-go";
  std::vector<Completion> events;
  Connection binding;
  std::weak_ptr<UpdateCheck> object;
  {
    auto check = UpdateCheck::Create(kShortLimits);
    object = check;
    binding = check->UpdateCheckComplete.Bind([&](int32_t n, std::u16string d) {
      events.push_back({n, std::move(d)});
    });
    check->StartCheck(Web().UrlText(path));
    test::WaitFor([] { return false; }, 200ms);
    ASSERT_EQ(Web().RequestCount(path), 1u) << "the download is under way";
  }
  EXPECT_TRUE(object.expired());
  // Past the download's limit: the worker has given up, into nothing.
  test::WaitFor([] { return false; }, kShortLimits.download + 500ms);
  EXPECT_TRUE(events.empty());
#ifndef _WIN32
  EXPECT_EQ(platform::OpenInternetHandleCount(), 0u);
#endif
}

TEST_F(FaultTest, AStalledCheckEndsOnceAndItsObjectCanGo) {
  // The host lets go of its object as soon as the completion is in.
  const std::string path = "/stall?ms=200&then=/fault/stalled.txt";
  PutVersionFile("/fault/stalled.txt", Web().Url(path));
  auto host = std::make_unique<Host>();
  const std::weak_ptr<UpdateCheck> object = host->check;
  ASSERT_TRUE(CheckToTheEnd(*host, Web().UrlText(path)));
  ASSERT_EQ(host->events.size(), 1u);
  EXPECT_EQ(host->events[0].number, 0);
  host.reset();
  EXPECT_TRUE(object.expired());
}

TEST_F(FaultTest, AHandlerThatRaisesGetsItsErrorBackAsASecondCompletion) {
  // The error travels back into the job, which reports it once more; an
  // error out of that second report goes no further than the trigger.
  constexpr int32_t kHostError = 1234;
  PutVersionFile("/fault/raising.txt", Web().Url("/fault/raising.txt"));
  for (const bool raiseEveryTime : {false, true}) {
    SCOPED_TRACE(raiseEveryTime ? "raises every time" : "raises once");
    Host host;
    int raised = 0;
    host.onEvent = [&](int32_t) {
      if (raiseEveryTime || raised == 0) {
        ++raised;
        Raise(kHostError, u"host", u"the host's handler failed");
      }
    };
    ASSERT_TRUE(CheckToTheEnd(host, Web().UrlText("/fault/raising.txt")));
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].number, 0);
    EXPECT_EQ(host.events[1].number, kHostError);
    EXPECT_EQ(host.events[1].description, kInetDescription);
    EXPECT_FALSE(host.check->IsActive());

    host.onEvent = nullptr;
    ASSERT_TRUE(CheckToTheEnd(host, Web().UrlText("/fault/raising.txt")));
    ASSERT_EQ(host.events.size(), 3u);
    EXPECT_EQ(host.events[2].number, 0);
  }
}

TEST_F(FaultTest, AnObjectLetGoInsideItsOwnHandlerEndsAfterIt) {
  PutVersionFile("/fault/self.txt", Web().Url("/fault/self.txt"));
  Host host;
  const std::weak_ptr<UpdateCheck> object = host.check;
  bool aliveInside = false;
  host.onEvent = [&](int32_t) {
    host.check.reset();
    // The raise still holds it; it goes once the handler is back.
    aliveInside = !object.expired();
  };
  const size_t requests = Web().RequestCount("/fault/self.txt");
  object.lock()->StartCheck(Web().UrlText("/fault/self.txt"));
  ASSERT_TRUE(test::WaitFor([&] { return !host.events.empty(); }));
  test::WaitFor([] { return false; }, kQuietPeriod);
  EXPECT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].number, 0);
  EXPECT_TRUE(aliveInside);
  EXPECT_TRUE(object.expired());
  EXPECT_EQ(Web().RequestCount("/fault/self.txt"), requests + 1);
}

TEST_F(FaultTest, AHundredObjectsComeAndGoWhileChecksRun) {
  // A third are let go while armed, a third from inside their own handler,
  // the rest after their completion; batches overlap with running checks.
  const std::string path = "/delay?ms=5&then=/fault/many.txt";
  PutVersionFile("/fault/many.txt", Web().Url(path));
  const size_t requestsBefore = Web().RequestCount("/delay");
  constexpr int kObjects = 100;
  constexpr int kBatch = 10;
  std::vector<std::unique_ptr<Host>> hosts;
  std::vector<std::weak_ptr<UpdateCheck>> objects;
  size_t expected = 0;
  for (int i = 0; i < kObjects; ++i) {
    auto& host = hosts.emplace_back(std::make_unique<Host>());
    objects.push_back(host->check);
    host->check->StartCheck(Web().UrlText(path));
    switch (i % 3) {
      case 0:
        host->check.reset();
        break;
      case 1:
        host->onEvent = [h = host.get()](int32_t) { h->check.reset(); };
        ++expected;
        break;
      default:
        ++expected;
        break;
    }
    if (i % kBatch == kBatch - 1) test::WaitFor([] { return false; }, 20ms);
  }
  auto delivered = [&] {
    size_t n = 0;
    for (const auto& host : hosts) n += host->events.size();
    return n;
  };
  ASSERT_TRUE(test::WaitFor([&] { return delivered() >= expected; }, 30s));
  test::WaitFor([] { return false; }, kQuietPeriod);
  for (int i = 0; i < kObjects; ++i) {
    SCOPED_TRACE(i);
    const auto& host = *hosts[static_cast<size_t>(i)];
    if (i % 3 == 0) {
      EXPECT_TRUE(host.events.empty());
    } else {
      ASSERT_EQ(host.events.size(), 1u);
      EXPECT_EQ(host.events[0].number, 0);
    }
    if (i % 3 != 2) {
      EXPECT_TRUE(objects[static_cast<size_t>(i)].expired());
    }
  }
  EXPECT_EQ(Web().RequestCount("/delay") - requestsBefore, expected);
  hosts.clear();
  for (const auto& object : objects) EXPECT_TRUE(object.expired());
}

}  // namespace
}  // namespace qel
