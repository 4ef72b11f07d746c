#include "tests/support/host.h"

#include "tests/support/test_support.h"

namespace qel::test {

Host::Host(CheckLimits limits) : check(UpdateCheck::Create(limits)) {
  binding = check->UpdateCheckComplete.Bind([this](int32_t n, std::u16string d) {
    events.push_back({n, std::move(d)});
    if (onEvent) onEvent(n);
  });
}

bool Host::WaitForEvents(size_t count, std::chrono::milliseconds timeout) const {
  return WaitFor([&] { return events.size() >= count; }, timeout);
}

}  // namespace qel::test
