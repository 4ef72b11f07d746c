// The soak run's comparison server: a local COM server with none of the
// component's code. Its objects answer IDispatch (GetTypeInfoCount gives 0,
// so COM's own proxy carries such calls) and the component's interface
// _UpdateCheck, whose calls do nothing (the properties are 0 or empty) and are
// carried by proxies made from the registered type library, as the
// component's are. It serves two classes, which differ only in where an
// object is made:
//   - kMainClass: on the main thread, in CreateInstance;
//   - kThreadClass: on a second apartment thread, marshalled to the main thread
//     and unmarshalled there before it is returned, as the update-check server
//     hands each object from its object thread to the host.
// It ends when its last object has gone.
//   plain_com_server /RegServer | /UnregServer   (machine-wide: Wine 8 does not
//                                                 activate classes of one user)
//   plain_com_server -Embedding                  (as COM starts it)

#include "bench/wine/plain_com_server.h"

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <string>
#include <thread>

#include "QELUpdateCheck.h"
#include "com/unique_handle.h"

namespace {

using qel::com::UniqueHandle;

constexpr UINT kMakeObject = WM_APP + 1;

// What the server counts: its objects. The last one going ends the main loop.
class Lifetime {
 public:
  explicit Lifetime(DWORD mainThread) : m_mainThread(mainThread) {}
  void AddRef() noexcept { ++m_count; }
  void Release() noexcept {
    if (--m_count == 0) PostThreadMessageW(m_mainThread, WM_QUIT, 0, 0);
  }

 private:
  const DWORD m_mainThread;
  std::atomic<long> m_count{0};
};

class PlainObject final : public _UpdateCheck {
 public:
  explicit PlainObject(Lifetime& lifetime) : m_lifetime(lifetime) { m_lifetime.AddRef(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__UpdateCheck) {
      *out = static_cast<_UpdateCheck*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_references;
    if (left == 0) {
      Lifetime& lifetime = m_lifetime;
      delete this;
      lifetime.Release();
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsActive(VARIANT_BOOL* active) override { return Zero(active); }
  HRESULT STDMETHODCALLTYPE StartCheck(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpgradeAvailable(LONG, LONG, LONG, VARIANT_BOOL* available) override {
    return Zero(available);
  }
  HRESULT STDMETHODCALLTYPE get_Major(LONG* value) override { return Zero(value); }
  HRESULT STDMETHODCALLTYPE get_Minor(LONG* value) override { return Zero(value); }
  HRESULT STDMETHODCALLTYPE get_Build(LONG* value) override { return Zero(value); }
  HRESULT STDMETHODCALLTYPE get_UpdateURL(BSTR* value) override { return Zero(value); }
  HRESULT STDMETHODCALLTYPE get_VersionHistory(BSTR* value) override { return Zero(value); }

 private:
  ~PlainObject() = default;
  template <class T>
  static HRESULT Zero(T* out) {
    if (!out) return E_POINTER;
    *out = T{};
    return S_OK;
  }
  Lifetime& m_lifetime;
  std::atomic<ULONG> m_references{1};
};

// One object to be made on the second thread, and its answer.
struct Request {
  IID iid;
  UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HRESULT hr = E_UNEXPECTED;
  IStream* stream = nullptr;
};

HRESULT MakeObject(Lifetime& lifetime, REFIID iid, void** out) noexcept {
  PlainObject* object = nullptr;
  try {
    object = new PlainObject(lifetime);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// The second apartment: makes each object it is asked for and hands it over
// marshalled, until it is told to quit.
void RunObjectThread(Lifetime& lifetime, HANDLE started) noexcept {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(started);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kMakeObject) {
      auto& request = *reinterpret_cast<Request*>(msg.lParam);
      IUnknown* object = nullptr;
      HRESULT hr = MakeObject(lifetime, request.iid, reinterpret_cast<void**>(&object));
      if (SUCCEEDED(hr)) {
        hr = CoMarshalInterThreadInterfaceInStream(request.iid, object, &request.stream);
        object->Release();
      }
      request.hr = hr;
      SetEvent(request.ready.Get());
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (SUCCEEDED(init)) CoUninitialize();
}

class Factory final : public IClassFactory {
 public:
  Factory(Lifetime& lifetime, DWORD objectThread)
      : m_lifetime(lifetime), m_objectThread(objectThread) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the main thread's stack for the server's whole life.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      m_lifetime.AddRef();
    } else {
      m_lifetime.Release();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (m_objectThread == 0) return MakeObject(m_lifetime, iid, out);

    Request request;
    request.iid = iid;
    if (!request.ready) return HRESULT_FROM_WIN32(GetLastError());
    if (!PostThreadMessageW(m_objectThread, kMakeObject, 0, reinterpret_cast<LPARAM>(&request)))
      return HRESULT_FROM_WIN32(GetLastError());
    HANDLE ready = request.ready.Get();
    DWORD index = 0;
    // The object thread always answers; the request must outlive its answer.
    CoWaitForMultipleHandles(0, INFINITE, 1, &ready, &index);
    if (FAILED(request.hr)) return request.hr;
    const HRESULT hr = CoUnmarshalInterface(request.stream, iid, out);
    if (FAILED(hr)) {
      LARGE_INTEGER start{};
      request.stream->Seek(start, STREAM_SEEK_SET, nullptr);
      CoReleaseMarshalData(request.stream);
    }
    request.stream->Release();
    return hr;
  }

 private:
  Lifetime& m_lifetime;
  const DWORD m_objectThread;  // 0 for objects made on the main thread
};

std::wstring ClassKey(REFCLSID clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

int Register() {
  wchar_t path[MAX_PATH] = {};
  if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return 1;
  const std::wstring value = std::wstring(L"\"") + path + L"\"";
  for (const CLSID& clsid : {qel::bench::kMainClass, qel::bench::kThreadClass}) {
    const std::wstring key = ClassKey(clsid) + L"\\LocalServer32";
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(), bytes) !=
        ERROR_SUCCESS) {
      return 1;
    }
  }
  return 0;
}

int Unregister() {
  int result = 0;
  for (const CLSID& clsid : {qel::bench::kMainClass, qel::bench::kThreadClass}) {
    const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = 1;
    RegDeleteKeyW(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str());
  }
  return result;
}

int Serve() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  Lifetime lifetime(GetCurrentThreadId());

  const UniqueHandle started(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread objectThread;
  DWORD objectThreadId = 0;
  try {
    objectThread = std::thread([&] {
      objectThreadId = GetCurrentThreadId();
      RunObjectThread(lifetime, started.Get());
    });
  } catch (...) {
    CoUninitialize();
    return 1;
  }
  WaitForSingleObject(started.Get(), INFINITE);

  Factory onMain(lifetime, 0);
  Factory onThread(lifetime, objectThreadId);
  DWORD mainCookie = 0, threadCookie = 0;
  const bool registered =
      SUCCEEDED(CoRegisterClassObject(qel::bench::kMainClass, &onMain, CLSCTX_LOCAL_SERVER,
                                      REGCLS_MULTIPLEUSE, &mainCookie)) &&
      SUCCEEDED(CoRegisterClassObject(qel::bench::kThreadClass, &onThread, CLSCTX_LOCAL_SERVER,
                                      REGCLS_MULTIPLEUSE, &threadCookie));
  if (registered) {
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (mainCookie) CoRevokeClassObject(mainCookie);
  if (threadCookie) CoRevokeClassObject(threadCookie);
  PostThreadMessageW(objectThreadId, WM_QUIT, 0, 0);
  objectThread.join();
  CoUninitialize();
  return registered ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc == 2 ? argv[1] : L"";
  if (command == L"/RegServer" || command == L"-RegServer") return Register();
  if (command == L"/UnregServer" || command == L"-UnregServer") return Unregister();
  if (command == L"-Embedding" || command == L"/Embedding") return Serve();
  return 2;
}
