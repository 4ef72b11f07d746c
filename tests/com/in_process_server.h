// The server's pieces made in the test's own process, its main thread being
// the test's: the class object, its pool of object threads and the couriers.
#pragma once

#include <windows.h>

#include <utility>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "retrieval/check_limits.h"
#include "server/process/class_factory.h"
#include "server/process/event_couriers.h"
#include "server/process/object_threads.h"
#include "server/process/server_lifetime.h"

namespace qel::test {

struct InProcessServer {
  explicit InProcessServer(com::ObjectThreads::Seams seams = {})
      : threads(lifetime, couriers, CheckLimits{}, std::move(seams)),
        factory(com::ComPtr<IClassFactory>::Attach(new com::ClassFactory(threads, lifetime))) {}
  ~InProcessServer() {
    factory.Reset();
    threads.JoinAll();
    couriers.JoinAll();
  }
  HRESULT Create(com::ComPtr<_UpdateCheck>& object) {
    return factory->CreateInstance(nullptr, IID__UpdateCheck, object.PutVoid());
  }

  com::ServerLifetime lifetime{GetCurrentThreadId()};
  com::EventCouriers couriers{lifetime};
  com::ObjectThreads threads;
  com::ComPtr<IClassFactory> factory;
};

}  // namespace qel::test
