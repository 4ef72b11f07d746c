// The event mechanism: synchronous delivery, errors back to the raiser, and
// binding changes and lifetimes changing during a raise.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "common/events.h"

namespace qel {
namespace {

struct Source {
  Event<int> Changed;
};

struct Listener : std::enable_shared_from_this<Listener> {
  std::vector<int> seen;
  std::function<void(int)> onChanged;
  WithEvents<Source> m_cSource;

  void Watch(std::shared_ptr<Source> source) {
    std::vector<Connection> bindings;
    bindings.push_back(source->Changed.Bind(weak_from_this(), &Listener::m_cSource_Changed));
    m_cSource.Set(std::move(source), std::move(bindings));
  }
  void m_cSource_Changed(int value) {
    seen.push_back(value);
    if (onChanged) onChanged(value);
  }
};

TEST(EventsTest, RaiseReachesEveryHandlerBeforeReturning) {
  auto source = std::make_shared<Source>();
  auto a = std::make_shared<Listener>();
  auto b = std::make_shared<Listener>();
  a->Watch(source);
  b->Watch(source);
  source->Changed.Raise(4);
  EXPECT_EQ(a->seen, std::vector<int>{4});
  EXPECT_EQ(b->seen, std::vector<int>{4});
}

TEST(EventsTest, ErrorInAHandlerTravelsBackToTheRaiser) {
  auto source = std::make_shared<Source>();
  auto a = std::make_shared<Listener>();
  a->Watch(source);
  a->onChanged = [](int) { throw std::runtime_error("from handler"); };
  EXPECT_THROW(source->Changed.Raise(1), std::runtime_error);
}

TEST(EventsTest, ClearingOrDeathUnbinds) {
  auto source = std::make_shared<Source>();
  auto a = std::make_shared<Listener>();
  auto b = std::make_shared<Listener>();
  a->Watch(source);
  b->Watch(source);
  a->m_cSource.Clear();
  b.reset();
  source->Changed.Raise(2);
  EXPECT_TRUE(a->seen.empty());
  EXPECT_EQ(source->Changed.BoundCount(), 0u);
}

TEST(EventsTest, HandlerUnbindingAnotherDuringARaiseSkipsIt) {
  auto source = std::make_shared<Source>();
  auto first = std::make_shared<Listener>();
  auto second = std::make_shared<Listener>();
  first->Watch(source);
  second->Watch(source);
  // Whichever runs first unbinds the other; exactly one of them hears it.
  first->onChanged = [&](int) { second->m_cSource.Clear(); };
  second->onChanged = [&](int) { first->m_cSource.Clear(); };
  source->Changed.Raise(3);
  EXPECT_EQ(first->seen.size() + second->seen.size(), 1u);
}

TEST(EventsTest, HandlerMayDropTheLastReferenceToItsOwnHolderAndSource) {
  auto source = std::make_shared<Source>();
  auto listener = std::make_shared<Listener>();
  listener->Watch(source);
  std::weak_ptr<Listener> watchListener = listener;
  std::weak_ptr<Source> watchSource = source;
  bool aliveInside = false;
  listener->onChanged = [&](int) {
    listener.reset();
    aliveInside = !watchListener.expired();
  };
  // The raiser keeps its own reference while raising, as every operation does.
  auto raiser = source;
  source.reset();
  raiser->Changed.Raise(5);
  EXPECT_TRUE(aliveInside);
  EXPECT_TRUE(watchListener.expired());
  raiser.reset();
  EXPECT_TRUE(watchSource.expired());
}

TEST(EventsTest, HandlerBoundDuringARaiseHearsOnlyLaterRaises) {
  auto source = std::make_shared<Source>();
  auto a = std::make_shared<Listener>();
  auto late = std::make_shared<Listener>();
  a->Watch(source);
  a->onChanged = [&](int) {
    if (!late->m_cSource) late->Watch(source);
  };
  source->Changed.Raise(1);
  source->Changed.Raise(2);
  EXPECT_EQ(late->seen, std::vector<int>{2});
}

}  // namespace
}  // namespace qel
