#include "server/object_threads.h"

#include <objbase.h>

#include <exception>
#include <utility>

#include "server/com_ptr.h"
#include "server/type_library.h"
#include "server/unique_handle.h"
#include "server/update_check_object.h"

namespace qel::com {
namespace {

// What an object thread hands back to the thread that asked for the object.
struct Handoff {
  UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HRESULT hr = E_UNEXPECTED;
  IStream* stream = nullptr;  // the marshalled object; the asking thread takes it over

  void Complete(HRESULT result, IStream* marshalled) noexcept {
    hr = result;
    stream = marshalled;
    SetEvent(ready.Get());
  }
};

void RunMessageLoop() noexcept {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The object thread's whole life. Nothing may leave it by exception.
void RunObjectThread(const std::shared_ptr<Handoff>& handoff, IID iid,
                     ServerLifetime& lifetime) noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init)) {
    handoff->Complete(init, nullptr);
    lifetime.Release();
    return;
  }
  bool serving = false;
  {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadServerTypeLibrary(library);
    ComPtr<IUnknown> object;
    // The loop below ends when the object does.
    if (SUCCEEDED(hr))
      hr = UpdateCheckObject::Create(
          *library.Get(), [] { PostQuitMessage(0); }, object);
    IStream* stream = nullptr;
    if (SUCCEEDED(hr)) hr = CoMarshalInterThreadInterfaceInStream(iid, object.Get(), &stream);
    serving = SUCCEEDED(hr);
    handoff->Complete(hr, stream);
    // From here the marshalled reference alone keeps the object.
  }
  if (serving) RunMessageLoop();
  lifetime.Release();
  CoUninitialize();
}

}  // namespace

HRESULT ObjectThreads::CreateObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  JoinFinished();

  std::shared_ptr<Handoff> handoff;
  std::shared_ptr<std::atomic<bool>> finished;
  try {
    handoff = std::make_shared<Handoff>();
    finished = std::make_shared<std::atomic<bool>>(false);
    m_threads.emplace_back();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!handoff->ready) {
    m_threads.pop_back();
    return HRESULT_FROM_WIN32(GetLastError());
  }

  m_lifetime.AddRef();
  try {
    ServerLifetime& lifetime = m_lifetime;
    m_threads.back().finished = finished;
    m_threads.back().thread = std::thread([handoff, iid = IID(iid), finished, &lifetime] {
      RunObjectThread(handoff, iid, lifetime);
      finished->store(true);
    });
  } catch (...) {
    m_threads.pop_back();
    m_lifetime.Release();
    return E_OUTOFMEMORY;
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
  for (auto& entry : m_threads) {
    if (entry.thread.joinable()) entry.thread.join();
  }
  m_threads.clear();
}

void ObjectThreads::JoinFinished() noexcept {
  for (auto it = m_threads.begin(); it != m_threads.end();) {
    if (it->finished && it->finished->load()) {
      if (it->thread.joinable()) it->thread.join();
      it = m_threads.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qel::com
