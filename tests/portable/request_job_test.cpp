// The request job against the loopback server: one request at a time, the
// download after GetURL has returned, and the outcome as DataCollected.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "retrieval/clsPrivateWeb.h"
#include "tests/support/loopback_suite.h"
#include "tests/support/test_support.h"
#include "trigger/modTimer.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel {
namespace {

using enum clsPrivateWeb::Answer;
static_assert(static_cast<int32_t>(kAccepted) == 0 && static_cast<int32_t>(kBusy) == -1 &&
              static_cast<int32_t>(kNotArmed) == -2);

struct Collected {
  int32_t error;
  std::u16string data;
  bool activeInside;
};

class RequestJobTest : public test::LoopbackSuite {
 protected:
  void SetUp() override {
    LoopbackSuite::SetUp();
    m_binding = m_job->DataCollected.Bind([this](int32_t error, std::u16string data) {
      m_events.push_back({error, data, m_job->IsActive()});
      if (m_onCollected) m_onCollected(error);
    });
  }

  bool WaitForEvents(size_t n) {
    return test::WaitFor([&] { return m_events.size() >= n; });
  }

  std::shared_ptr<clsPrivateWeb> m_job = clsPrivateWeb::Create();
  std::vector<Collected> m_events;
  std::function<void(int32_t)> m_onCollected;
  Connection m_binding;
};

TEST_F(RequestJobTest, NewJobIsIdle) {
  EXPECT_FALSE(m_job->IsActive());
  EXPECT_EQ(m_job->TaskName(), u"");
}

TEST_F(RequestJobTest, GoodFileIsCollectedAfterGetURLHasReturned) {
  Web().Put("/job/good.txt", "version text\r\n");
  const std::u16string url = Web().UrlText("/job/good.txt");
  ASSERT_EQ(m_job->GetURL(url), kAccepted);
  EXPECT_TRUE(m_job->IsActive());
  EXPECT_EQ(m_job->TaskName(), u"Collecting " + url);
  EXPECT_TRUE(m_events.empty());
  ASSERT_TRUE(WaitForEvents(1));
  test::WaitFor([] { return false; }, std::chrono::milliseconds(50));
  ASSERT_EQ(m_events.size(), 1u);
  EXPECT_EQ(m_events[0].error, 0);
  EXPECT_EQ(m_events[0].data, u"version text\r\n");
  EXPECT_FALSE(m_events[0].activeInside) << "idle before the event is raised";
  EXPECT_EQ(m_job->TaskName(), u"Idle");
  EXPECT_EQ(Web().RequestCount("/job/good.txt"), 1u);
}

TEST_F(RequestJobTest, SecondGetURLWhileBusyIsRefusedAndChangesNothing) {
  Web().Put("/job/first.txt", "first");
  const std::u16string first = Web().UrlText("/job/first.txt");
  ASSERT_EQ(m_job->GetURL(first), kAccepted);
  EXPECT_EQ(m_job->GetURL(Web().UrlText("/job/second.txt")), kBusy);
  EXPECT_EQ(m_job->TaskName(), u"Collecting " + first);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(m_events[0].data, u"first");
  EXPECT_EQ(Web().RequestCount("/job/second.txt"), 0u);
}

TEST_F(RequestJobTest, EmptyURLIsAcceptedAndFailsInTheDownload) {
  ASSERT_EQ(m_job->GetURL(u""), kAccepted);
  EXPECT_EQ(m_job->TaskName(), u"Collecting ");
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_NE(m_events[0].error, 0);
  EXPECT_EQ(m_events[0].data, u"");
  EXPECT_FALSE(m_job->IsActive());
}

TEST_F(RequestJobTest, RefusedPortReportsTheSystemErrorWithEmptyText) {
  const std::u16string url =
      u"http://127.0.0.1:" + Utf8ToText(std::to_string(Web().RefusedPort())) + u"/x";
  ASSERT_EQ(m_job->GetURL(url), kAccepted);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(m_events[0].error, static_cast<int32_t>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(m_events[0].data, u"");
  EXPECT_FALSE(m_job->IsActive());
}

TEST_F(RequestJobTest, ErrorEscapingAHandlerComesBackAsASecondEvent) {
  Web().Put("/job/throw.txt", "data");
  m_onCollected = [](int32_t error) {
    if (error == 0) Raise(1234, u"test", u"handler failed");
  };
  ASSERT_EQ(m_job->GetURL(Web().UrlText("/job/throw.txt")), kAccepted);
  ASSERT_TRUE(WaitForEvents(2));
  test::WaitFor([] { return false; }, std::chrono::milliseconds(50));
  ASSERT_EQ(m_events.size(), 2u);
  EXPECT_EQ(m_events[0].error, 0);
  EXPECT_EQ(m_events[1].error, 1234);
  EXPECT_EQ(m_events[1].data, u"");
  EXPECT_FALSE(m_events[1].activeInside);
  EXPECT_FALSE(m_job->IsActive());
}

TEST_F(RequestJobTest, ErrorInTheSecondEventStopsAtTheTimerCallback) {
  Web().Put("/job/throw2.txt", "data");
  m_onCollected = [](int32_t) { throw std::runtime_error("always"); };
  ASSERT_EQ(m_job->GetURL(Web().UrlText("/job/throw2.txt")), kAccepted);
  EXPECT_NO_THROW(WaitForEvents(2));
  ASSERT_EQ(m_events.size(), 2u);
  EXPECT_EQ(m_events[1].error, 51);
  // The job is idle and takes the next request.
  m_onCollected = nullptr;
  EXPECT_EQ(m_job->GetURL(Web().UrlText("/job/throw2.txt")), kAccepted);
  EXPECT_TRUE(WaitForEvents(3));
  EXPECT_EQ(m_events[2].error, 0);
}

TEST_F(RequestJobTest, GetURLFromInsideTheHandlerIsAccepted) {
  Web().Put("/job/a.txt", "a");
  Web().Put("/job/b.txt", "b");
  auto inner = kBusy;
  m_onCollected = [&](int32_t) {
    if (m_events.size() == 1) inner = m_job->GetURL(Web().UrlText("/job/b.txt"));
  };
  ASSERT_EQ(m_job->GetURL(Web().UrlText("/job/a.txt")), kAccepted);
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(inner, kAccepted);
  EXPECT_EQ(m_events[0].data, u"a");
  EXPECT_EQ(m_events[1].data, u"b");
}

TEST_F(RequestJobTest, TriggerThatCannotArmRefusesWithMinusTwo) {
  Web().Put("/job/c.txt", "c");
  modTimer::RefuseTimersForTesting(1);
  EXPECT_EQ(m_job->GetURL(Web().UrlText("/job/c.txt")), kNotArmed);
  EXPECT_FALSE(m_job->IsActive());
  EXPECT_EQ(m_job->TaskName(), u"");
  test::WaitFor([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_TRUE(m_events.empty());
  EXPECT_EQ(m_job->GetURL(Web().UrlText("/job/c.txt")), kAccepted);
  EXPECT_TRUE(WaitForEvents(1));
}

TEST_F(RequestJobTest, JobReleasedWhileWaitingRaisesNothing) {
  Web().Put("/job/d.txt", "d");
  ASSERT_EQ(m_job->GetURL(Web().UrlText("/job/d.txt")), kAccepted);
  m_job.reset();
  test::WaitFor([] { return false; }, std::chrono::milliseconds(80));
  EXPECT_TRUE(m_events.empty());
  EXPECT_EQ(Web().RequestCount("/job/d.txt"), 0u);
#ifndef _WIN32
  EXPECT_EQ(platform::LiveTimerCount(), 0u);
#endif
}

}  // namespace
}  // namespace qel
