#include "server/process/object_threads.h"

#include <objbase.h>

#include <algorithm>
#include <utility>

#include "com/unique_handle.h"
#include "server/object/update_check_object.h"
#include "server/registration/type_library.h"
#include "trigger/modTimer.h"
#include "trigger/thread_mailbox.h"

namespace qel::com {

// What an object thread hands back to the thread that asked for the object.
// The asker may stop waiting: the marshalled object is then released by
// whichever side comes last, so that it never lives on for good.
struct ObjectThreads::Handoff {
  explicit Handoff(REFIID requested) : iid(requested) {}
  const IID iid;
  UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HRESULT hr = E_UNEXPECTED;
  IStream* stream = nullptr;  // the marshalled object; the asking thread takes it over

  // False if the asker has given up: the caller keeps `marshalled`.
  bool Complete(HRESULT result, IStream* marshalled) noexcept {
    {
      std::lock_guard lock(mutex);
      if (abandoned) return false;
      hr = result;
      stream = marshalled;
      completed = true;
    }
    SetEvent(ready.Get());
    return true;
  }
  // The asker gives up; the stream, if already there, is its to release.
  IStream* Abandon() noexcept {
    std::lock_guard lock(mutex);
    abandoned = true;
    return completed ? std::exchange(stream, nullptr) : nullptr;
  }

  std::mutex mutex;
  bool completed = false;
  bool abandoned = false;
};

namespace {

// Gives a marshalled object its reference back and lets go of the stream.
void ReleaseMarshalled(IStream* stream) noexcept {
  if (!stream) return;
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  CoReleaseMarshalData(stream);
  stream->Release();
}

}  // namespace

// An object's place on its thread, given back once: when the object dies, or
// at once if it could not be made.
struct ObjectThreads::ObjectHold {
  ObjectHold(ObjectThreads& threads, Worker& owner) noexcept : pool(threads), worker(owner) {}
  void Drop() noexcept {
    if (!dropped) {
      dropped = true;
      pool.ObjectGone(worker);
    }
  }
  ObjectThreads& pool;
  Worker& worker;
  bool dropped = false;  // touched on the worker's thread only
};

HRESULT ObjectThreads::CreateObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;

  std::shared_ptr<Handoff> handoff;
  try {
    handoff = std::make_shared<Handoff>(iid);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!handoff->ready) return HRESULT_FROM_WIN32(GetLastError());

  if (!m_lifetime.TryAddRef()) return CO_E_SERVER_STOPPING;
  ReapEnded();
  Worker* worker = nullptr;
  std::shared_ptr<ThreadMailbox> wake;
  {
    std::lock_guard lock(m_mutex);
    Worker* const least = LeastLoaded();
    if (!least || (least->objects > 0 && Alive() < kMaxThreads)) {
      worker = StartWorker(handoff);
    }
    if (!worker && least) {
      try {
        least->jobs.push_back(handoff);
        ++least->objects;
        worker = least;
        wake = least->mailbox;  // null while the thread starts: it drains its queue then
      } catch (...) {
      }
    }
  }
  if (!worker) {
    m_lifetime.Release();
    return E_OUTOFMEMORY;
  }
  if (wake) {
    bool posted = false;
    try {
      // Sent, not posted: a thread that is delivering an event waits in COM's
      // modal loop, and the host's handler may be what asks for this object.
      posted = wake->Send([this, worker] { RunJobs(*worker); });
    } catch (...) {
    }
    bool unqueued = false;
    if (!posted) {
      std::lock_guard lock(m_mutex);
      unqueued = Unqueue(*worker, *handoff);
    }
    // Otherwise an earlier wake-up has taken it.
    if (unqueued) {
      ObjectGone(*worker);
      return E_OUTOFMEMORY;
    }
  }

  // Other calls into this apartment go on being served while the object is made.
  HANDLE ready = handoff->ready.Get();
  DWORD index = 0;
  HRESULT hr =
      m_seams.wait ? m_seams.wait(ready) : CoWaitForMultipleHandles(0, INFINITE, 1, &ready, &index);
  if (FAILED(hr)) {
    // The object, made or still to come, must not live on for good.
    ReleaseMarshalled(handoff->Abandon());
    return hr;
  }
  if (FAILED(handoff->hr)) return handoff->hr;

  IStream* const stream = std::exchange(handoff->stream, nullptr);
  hr = CoUnmarshalInterface(stream, iid, out);
  if (FAILED(hr)) {
    ReleaseMarshalled(stream);
  } else {
    stream->Release();
  }
  return hr;
}

void ObjectThreads::ReapEnded() noexcept {
  std::list<std::unique_ptr<Worker>> ended;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      const auto next = std::next(it);
      // Only a thread that could not start ends while the server serves.
      if ((*it)->state == Worker::State::kEnded) ended.splice(ended.end(), m_workers, it);
      it = next;
    }
  }
  for (const auto& worker : ended) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

size_t ObjectThreads::Alive() const noexcept {
  return static_cast<size_t>(
      std::count_if(m_workers.begin(), m_workers.end(),
                    [](const auto& worker) { return worker->state != Worker::State::kEnded; }));
}

ObjectThreads::Worker* ObjectThreads::LeastLoaded() noexcept {
  Worker* least = nullptr;
  for (const auto& worker : m_workers) {
    if (worker->state != Worker::State::kEnded && worker->state != Worker::State::kQuitting &&
        (!least || worker->objects < least->objects)) {
      least = worker.get();
    }
  }
  return least;
}

ObjectThreads::Worker* ObjectThreads::StartWorker(std::shared_ptr<Handoff> first) noexcept {
  if (Alive() >= kMaxThreads) return nullptr;
  try {
    auto worker = std::make_unique<Worker>();
    worker->jobs.push_back(std::move(first));
    worker->objects = 1;
    Worker& started = *worker;
    m_workers.push_back(std::move(worker));
    try {
      started.thread = std::thread([this, &started] { Run(started); });
    } catch (...) {
      m_workers.pop_back();
      return nullptr;
    }
    return &started;
  } catch (...) {
    return nullptr;
  }
}

bool ObjectThreads::Unqueue(Worker& worker, const Handoff& job) noexcept {
  const auto it = std::find_if(worker.jobs.begin(), worker.jobs.end(),
                               [&](const auto& queued) { return queued.get() == &job; });
  if (it == worker.jobs.end()) return false;
  worker.jobs.erase(it);
  return true;
}

// The thread's whole life: the objects it is given, for as long as the
// server serves. Nothing leaves it by exception.
void ObjectThreads::Run(Worker& worker) noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HRESULT hr = init;
  if (SUCCEEDED(hr) && m_seams.threadStart) hr = m_seams.threadStart();
  std::shared_ptr<ThreadMailbox> mailbox;
  if (SUCCEEDED(hr)) hr = LoadServerTypeLibrary(worker.library);
  if (SUCCEEDED(hr)) {
    try {
      mailbox = modTimer::Mailbox();
    } catch (...) {
    }
    if (!mailbox) hr = E_OUTOFMEMORY;
  }
  std::deque<std::shared_ptr<Handoff>> refused;
  bool quit = false;
  {
    std::lock_guard lock(m_mutex);
    worker.threadId = GetCurrentThreadId();
    quit = worker.state == Worker::State::kQuitting;
    if (SUCCEEDED(hr)) {
      worker.mailbox = mailbox;
      if (!quit) worker.state = Worker::State::kServing;
    } else {
      worker.state = Worker::State::kEnded;
      refused.swap(worker.jobs);
    }
  }
  // Each refused creation's place is given back before its creator learns of
  // the refusal, so that the creator never sees the server held by it.
  for (const auto& job : refused) {
    ObjectGone(worker);
    job->Complete(hr, nullptr);
  }
  if (SUCCEEDED(hr)) {
    RunJobs(worker);
    MSG msg;
    while (!quit && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  {
    std::lock_guard lock(m_mutex);
    worker.state = Worker::State::kEnded;
  }
  worker.library.Reset();
  if (SUCCEEDED(init)) CoUninitialize();
  // Its download threads are joined here, not at the thread's very end,
  // where no join can return.
  modTimer::EndThread();
}

void ObjectThreads::RunJobs(Worker& worker) noexcept {
  for (;;) {
    std::shared_ptr<Handoff> job;
    {
      std::lock_guard lock(m_mutex);
      if (worker.jobs.empty()) return;
      job = std::move(worker.jobs.front());
      worker.jobs.pop_front();
    }
    MakeObject(worker, *job);
  }
}

void ObjectThreads::MakeObject(Worker& worker, Handoff& job) noexcept {
  std::shared_ptr<ObjectHold> hold;
  ComPtr<IUnknown> object;
  HRESULT hr = S_OK;
  try {
    hold = std::make_shared<ObjectHold>(*this, worker);
    hr = UpdateCheckObject::Create(
        *worker.library.Get(), m_limits, m_couriers, [hold] { hold->Drop(); }, object);
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  IStream* stream = nullptr;
  if (SUCCEEDED(hr)) hr = CoMarshalInterThreadInterfaceInStream(job.iid, object.Get(), &stream);
  // From here the marshalled reference alone keeps the object; an object that
  // could not be handed over goes now, and its place before the asker hears.
  object.Reset();
  if (FAILED(hr)) {
    if (hold) {
      hold->Drop();
    } else {
      ObjectGone(worker);
    }
    job.Complete(hr, nullptr);
    return;
  }
  // False: the asker has given up waiting.
  if (!job.Complete(hr, stream)) ReleaseMarshalled(stream);
}

void ObjectThreads::ObjectGone(Worker& worker) noexcept {
  {
    // Counted out before the server may learn that its last object has gone.
    std::lock_guard lock(m_mutex);
    --worker.objects;
  }
  m_lifetime.Release();
}

void ObjectThreads::JoinAll() noexcept {
  {
    std::lock_guard lock(m_mutex);
    for (const auto& worker : m_workers) {
      if (worker->state == Worker::State::kServing) {
        PostThreadMessageW(worker->threadId, WM_QUIT, 0, 0);
      }
      if (worker->state != Worker::State::kEnded) worker->state = Worker::State::kQuitting;
    }
  }
  // Only this thread changes the list.
  for (const auto& worker : m_workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  m_workers.clear();
}

}  // namespace qel::com
