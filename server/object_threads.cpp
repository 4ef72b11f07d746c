#include "server/object_threads.h"

#include <objbase.h>

#include <utility>

#include "server/com_ptr.h"
#include "server/type_library.h"
#include "server/unique_handle.h"
#include "server/update_check_object.h"

namespace qel::com {

// What an object thread hands back to the thread that asked for the object.
struct ObjectThreads::Handoff {
  explicit Handoff(REFIID requested) : iid(requested) {}
  const IID iid;
  UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HRESULT hr = E_UNEXPECTED;
  IStream* stream = nullptr;  // the marshalled object; the asking thread takes it over

  void Complete(HRESULT result, IStream* marshalled) noexcept {
    hr = result;
    stream = marshalled;
    SetEvent(ready.Get());
  }
};

namespace {

using Handoff = ObjectThreads::Handoff;
using Worker = ObjectThreads::Worker;

void RunMessageLoop() noexcept {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Makes one object on this thread and hands it over; true if it is being
// served, false if it could not be made (and is gone already).
bool MakeObject(ITypeLib* library, CheckLimits limits, Handoff& job) noexcept {
  HRESULT hr = library ? S_OK : TYPE_E_CANTLOADLIBRARY;
  ComPtr<IUnknown> object;
  // The object's last release ends the message loop below.
  if (SUCCEEDED(hr))
    hr = UpdateCheckObject::Create(
        *library, limits, [] { PostQuitMessage(0); }, object);
  IStream* stream = nullptr;
  if (SUCCEEDED(hr)) hr = CoMarshalInterThreadInterfaceInStream(job.iid, object.Get(), &stream);
  job.Complete(hr, stream);
  // From here the marshalled reference alone keeps the object.
  return SUCCEEDED(hr);
}

// The object thread's whole life: objects one after another, until it has
// waited too long for the next or is asked to end. Nothing leaves it by
// exception.
void RunObjectThread(Worker& worker, ServerLifetime& lifetime, CheckLimits limits) noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ComPtr<ITypeLib> library;
  if (SUCCEEDED(init) && FAILED(LoadServerTypeLibrary(library))) library.Reset();
  for (;;) {
    std::shared_ptr<Handoff> job;
    {
      std::unique_lock lock(worker.mutex);
      worker.wake.wait_for(lock, ObjectThreads::kIdleWait,
                           [&] { return worker.job || worker.quit; });
      if (!worker.job || FAILED(init)) {
        worker.ended = true;
        worker.idle = false;
        if (worker.job) worker.job->Complete(init, nullptr);
        job = std::exchange(worker.job, nullptr);
      } else {
        job = std::exchange(worker.job, nullptr);
      }
    }
    if (worker.ended) {
      if (job) lifetime.Release();
      break;
    }
    if (MakeObject(library.Get(), limits, *job)) RunMessageLoop();
    // A quit left behind by an object that could not be handed over must not
    // end the next object's loop.
    MSG stale;
    while (PeekMessageW(&stale, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    {
      // Idle before the server may learn that its last object has gone.
      std::lock_guard lock(worker.mutex);
      worker.idle = true;
    }
    lifetime.Release();
  }
  library.Reset();
  if (SUCCEEDED(init)) CoUninitialize();
}

}  // namespace

HRESULT ObjectThreads::CreateObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  JoinEnded();

  std::shared_ptr<Handoff> handoff;
  try {
    handoff = std::make_shared<Handoff>(iid);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!handoff->ready) return HRESULT_FROM_WIN32(GetLastError());

  m_lifetime.AddRef();
  bool handed = false;
  for (const auto& worker : m_workers) {
    std::lock_guard lock(worker->mutex);
    if (worker->idle && !worker->ended && !worker->job) {
      worker->idle = false;
      worker->job = handoff;
      worker->wake.notify_one();
      handed = true;
      break;
    }
  }
  if (!handed) {
    try {
      auto worker = std::make_unique<Worker>();
      worker->job = handoff;
      Worker& started = *worker;
      ServerLifetime& lifetime = m_lifetime;
      const CheckLimits limits = m_limits;
      worker->thread = std::thread(
          [&started, &lifetime, limits] { RunObjectThread(started, lifetime, limits); });
      m_workers.push_back(std::move(worker));
    } catch (...) {
      m_lifetime.Release();
      return E_OUTOFMEMORY;
    }
  }

  // Other calls into this apartment go on being served while the object is made.
  HANDLE ready = handoff->ready.Get();
  DWORD index = 0;
  HRESULT hr = CoWaitForMultipleHandles(0, INFINITE, 1, &ready, &index);
  if (FAILED(hr)) return hr;
  if (FAILED(handoff->hr)) return handoff->hr;

  auto stream = ComPtr<IStream>::Attach(handoff->stream);
  hr = CoUnmarshalInterface(stream.Get(), iid, out);
  if (FAILED(hr)) {
    // Give the object its reference back, or its thread would wait forever.
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(stream.Get());
  }
  return hr;
}

void ObjectThreads::JoinAll() noexcept {
  for (const auto& worker : m_workers) {
    std::lock_guard lock(worker->mutex);
    worker->quit = true;
    worker->wake.notify_one();
  }
  for (const auto& worker : m_workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  m_workers.clear();
}

void ObjectThreads::JoinEnded() noexcept {
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    bool ended = false;
    {
      std::lock_guard lock((*it)->mutex);
      ended = (*it)->ended;
    }
    if (ended) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qel::com
