// Events between the component's reference-counted objects.
//
// Raising calls every bound handler synchronously on the raising thread and
// returns after the last one; an exception from a handler travels back to the
// raiser. A handler is bound through its holder's weak reference and holds the
// holder alive while it runs, so it may drop the last outside reference to
// anything in the chain. Handlers may bind or unbind during a raise: the raise
// works on a snapshot, and a slot unbound meanwhile is skipped.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace qel {

namespace detail {
struct SlotBase {
  bool live = true;
};
}  // namespace detail

// One binding. Destroying or resetting it unbinds the handler.
class Connection {
 public:
  Connection() = default;
  explicit Connection(std::weak_ptr<detail::SlotBase> slot) : m_slot(std::move(slot)) {}
  Connection(Connection&& other) noexcept : m_slot(std::exchange(other.m_slot, {})) {}
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      Reset();
      m_slot = std::exchange(other.m_slot, {});
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { Reset(); }

  void Reset() noexcept {
    if (auto slot = m_slot.lock()) slot->live = false;
    m_slot.reset();
  }
  bool Bound() const noexcept {
    auto slot = m_slot.lock();
    return slot && slot->live;
  }

 private:
  std::weak_ptr<detail::SlotBase> m_slot;
};

template <class... Args>
class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  [[nodiscard]] Connection Bind(std::function<void(Args...)> handler) {
    Prune();
    auto slot = std::make_shared<Slot>();
    slot->handler = std::move(handler);
    m_slots.push_back(slot);
    return Connection(slot);
  }

  // Binds a member handler. The holder is held only while the handler runs.
  template <class Holder>
  [[nodiscard]] Connection Bind(std::weak_ptr<Holder> holder, void (Holder::*handler)(Args...)) {
    return Bind([holder = std::move(holder), handler](Args... args) {
      if (auto strong = holder.lock()) ((*strong).*handler)(args...);
    });
  }

  void Raise(Args... args) {
    Prune();
    const auto snapshot = m_slots;
    for (const auto& slot : snapshot) {
      if (slot->live) slot->handler(args...);
    }
  }

  size_t BoundCount() const {
    size_t n = 0;
    for (const auto& slot : m_slots) n += slot->live ? 1 : 0;
    return n;
  }

 private:
  struct Slot : detail::SlotBase {
    std::function<void(Args...)> handler;
  };

  void Prune() {
    std::erase_if(m_slots, [](const std::shared_ptr<Slot>& s) { return !s->live; });
  }

  std::vector<std::shared_ptr<Slot>> m_slots;
};

// A member "bound to the events" of the object it holds: assigning binds,
// clearing or the holder's death unbinds.
template <class Source>
class WithEvents {
 public:
  WithEvents() = default;
  WithEvents(const WithEvents&) = delete;
  WithEvents& operator=(const WithEvents&) = delete;

  void Set(std::shared_ptr<Source> source, std::vector<Connection> connections) {
    Clear();
    m_source = std::move(source);
    m_connections = std::move(connections);
  }
  void Clear() {
    m_connections.clear();
    m_source.reset();
  }

  Source* operator->() const noexcept { return m_source.get(); }
  Source& operator*() const noexcept { return *m_source; }
  const std::shared_ptr<Source>& Get() const noexcept { return m_source; }
  explicit operator bool() const noexcept { return static_cast<bool>(m_source); }

 private:
  std::shared_ptr<Source> m_source;
  // Declared last so that the bindings end before the reference is dropped.
  std::vector<Connection> m_connections;
};

}  // namespace qel
