// A complete C++ host of the update checker, in plain COM: create the object,
// connect to UpdateCheckComplete, start a check, run the message loop until the
// event, then read what was published and compare it with this program's own
// version. QELUpdateCheck.h and QELUpdateCheck_i.c come from the server's IDL.
//   check_for_update URL MAJOR MINOR BUILD   (this program's own version)
// Exit status: 0 up to date, 1 a newer version is published, 2 the check failed.
#include <ocidl.h>
#include <windows.h>

#include <cstdio>

#include "QELUpdateCheck.h"

// Receives UpdateCheckComplete(lErrorNumber, strErrorDescription), DISPID 1,
// whose arguments arrive last first. It lives on the stack: no reference count.
class CompletionSink final : public IDispatch {
 public:
  bool done = false;
  long error = 0;
  wchar_t description[512] = L"";

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID___UpdateCheck;
    *out = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || params->cArgs != 2) return DISP_E_MEMBERNOTFOUND;
    VARIANT number, text;
    VariantInit(&number);
    VariantInit(&text);
    if (SUCCEEDED(VariantChangeType(&number, &params->rgvarg[1], 0, VT_I4)) &&
        SUCCEEDED(VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR))) {
      error = number.lVal;
      lstrcpynW(description, text.bstrVal ? text.bstrVal : L"", 512);
    }
    VariantClear(&text);
    done = true;
    return S_OK;
  }
};

static int Check(_UpdateCheck* check, const wchar_t* url, const long mine[3]) {
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  CompletionSink sink;
  DWORD cookie = 0;
  HRESULT asked = S_OK;  // the last IsActive: it fails only when the server has gone
  HRESULT hr =
      check->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___UpdateCheck, &point);
  if (SUCCEEDED(hr)) hr = point->Advise(&sink, &cookie);
  if (SUCCEEDED(hr)) {
    BSTR urlText = SysAllocString(url);
    hr = check->StartCheck(urlText);
    SysFreeString(urlText);
    // The event arrives through this thread's messages; the check itself
    // ends within 60 s. A server that has ended sends no event, so the
    // object is also asked once a second whether it is still there.
    const ULONGLONG deadline = GetTickCount64() + 90000;
    ULONGLONG nextAsk = GetTickCount64() + 1000;
    while (SUCCEEDED(hr) && SUCCEEDED(asked) && !sink.done && GetTickCount64() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      if (!sink.done && GetTickCount64() >= nextAsk) {
        VARIANT_BOOL active;
        asked = check->IsActive(&active);
        nextAsk += 1000;
      }
    }
    point->Unadvise(cookie);
    // A server that has ended never let go of the sink: drop what COM still
    // holds of it for that server before the sink goes.
    CoDisconnectObject(&sink, 0);
  }
  if (point) point->Release();
  if (container) container->Release();
  if (FAILED(hr)) {
    std::printf("The check could not start: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 2;
  }
  if (FAILED(asked)) {
    std::printf("The update checker's server ended during the check (error 0x%08lX)\n",
                static_cast<unsigned long>(asked));
    return 2;
  }
  if (!sink.done) {
    std::printf("No answer within 90 s\n");
    return 2;
  }
  if (sink.error != 0) {
    std::printf("The check failed: error %ld: %ls\nNothing was published.\n", sink.error,
                sink.description);
    return 2;
  }

  long published[3] = {};
  BSTR updateURL = nullptr;
  VARIANT_BOOL differs = VARIANT_FALSE;
  check->get_Major(&published[0]);
  check->get_Minor(&published[1]);
  check->get_Build(&published[2]);
  check->get_UpdateURL(&updateURL);
  check->IsUpgradeAvailable(mine[0], mine[1], mine[2], &differs);
  std::printf("Published version: %ld.%ld.%ld\nUpdate URL: %ls\n", published[0], published[1],
              published[2], updateURL ? updateURL : L"");
  SysFreeString(updateURL);
  // IsUpgradeAvailable says only that the versions differ; order decides.
  std::printf("Differs from %ld.%ld.%ld: %s\n", mine[0], mine[1], mine[2], differs ? "yes" : "no");
  int order = 0;
  for (int i = 0; i < 3 && order == 0; ++i)
    order = (published[i] > mine[i]) - (published[i] < mine[i]);
  std::printf("%s\n", order > 0   ? "A newer version is available."
                      : order < 0 ? "The published version is older than this one."
                                  : "This version is up to date.");
  return order > 0 ? 1 : 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::printf("usage: check_for_update URL MAJOR MINOR BUILD\n");
    return 2;
  }
  const long mine[3] = {wcstol(argv[2], nullptr, 10), wcstol(argv[3], nullptr, 10),
                        wcstol(argv[4], nullptr, 10)};
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  _UpdateCheck* check = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_UpdateCheck, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID__UpdateCheck, reinterpret_cast<void**>(&check));
  int status = 2;
  if (FAILED(hr)) {
    std::printf("The update checker could not be created: 0x%08lX\n",
                static_cast<unsigned long>(hr));
  } else {
    status = Check(check, argv[1], mine);
    check->Release();
  }
  CoUninitialize();
  return status;
}
