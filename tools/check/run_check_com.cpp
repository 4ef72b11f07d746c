// The Windows build's host: UpdateCheck created out of process through COM,
// the event received through a connection point, and this STA thread's
// message loop running while the check goes on.
#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "QELUpdateCheck.h"
#include "com/bstr.h"
#include "com/com_ptr.h"
#include "common/text.h"
#include "server/object/dispids.h"
#include "tools/check/run_check.h"
#include "tools/check/server_ended.h"
#include "tools/system_message.h"
#include "trigger/message_loop.h"

namespace qel::tool {
namespace {

using com::Bstr;
using com::ComPtr;
using namespace std::chrono_literals;

// How often the wait asks the object whether its server is still there.
constexpr auto kServerPoll = 1s;

// Receives UpdateCheckComplete(lErrorNumber, strErrorDescription).
class CompletionSink final : public IDispatch {
 public:
  bool completed = false;
  int32_t number = 0;
  std::u16string description;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID___UpdateCheck) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long refs = --m_refs;
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (id != DISPID_UC_UPDATECHECKCOMPLETE) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Dispatch order: the description first, the number second.
    VARIANT numberArg;
    VARIANT descriptionArg;
    VariantInit(&numberArg);
    VariantInit(&descriptionArg);
    HRESULT hr = VariantChangeType(&numberArg, &params->rgvarg[1], 0, VT_I4);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&descriptionArg, &params->rgvarg[0], 0, VT_BSTR);
    if (SUCCEEDED(hr)) {
      number = numberArg.lVal;
      description = com::TextFromBstr(descriptionArg.bstrVal);
      completed = true;
    }
    VariantClear(&numberArg);
    VariantClear(&descriptionArg);
    return SUCCEEDED(hr) ? S_OK : DISP_E_TYPEMISMATCH;
  }

 private:
  long m_refs = 1;
};

// Owns a connection point's advise cookie.
class Advised {
 public:
  Advised(ComPtr<IConnectionPoint> point, DWORD cookie)
      : m_point(std::move(point)), m_cookie(cookie) {}
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  ~Advised() {
    if (m_point) m_point->Unadvise(m_cookie);
  }

 private:
  ComPtr<IConnectionPoint> m_point;
  DWORD m_cookie;
};

class ComApartment {
 public:
  ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};

CheckReport NoObject(HRESULT hr, const char16_t* what) {
  CheckReport report;
  report.stage = CheckStage::kNoObject;
  report.error = static_cast<int32_t>(hr);
  report.description = what;
  const std::string message = SystemMessage(static_cast<int32_t>(hr));
  if (!message.empty()) report.description += u": " + Utf8ToText(message);
  return report;
}

// StartCheck through IDispatch, so that the raised error's description
// arrives whole in EXCEPINFO from any COM runtime.
HRESULT StartCheck(IDispatch* object, const std::u16string& url, std::u16string& description) {
  Bstr urlText(url);
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = urlText.Get();
  DISPPARAMS params{&arg, nullptr, 1, 0};
  EXCEPINFO info{};
  const HRESULT hr = object->Invoke(DISPID_UC_STARTCHECK, IID_NULL, LOCALE_USER_DEFAULT,
                                    DISPATCH_METHOD, &params, nullptr, &info, nullptr);
  if (hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    description = com::TextFromBstr(info.bstrDescription);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return info.scode != 0 ? info.scode : static_cast<HRESULT>(info.wCode);
  }
  if (FAILED(hr)) description = Utf8ToText(SystemMessage(static_cast<int32_t>(hr)));
  return hr;
}

// Runs the message loop until the sink has the event (S_OK) or the deadline
// has passed (S_FALSE). A server that has ended raises no event: an IsActive
// once a second finds it, and its failure is returned.
HRESULT WaitForCompletion(_UpdateCheck* check, const CompletionSink& sink, Deadline deadline) {
  for (;;) {
    const auto left = TimeLeft(deadline);
    if (left <= 0ms) return S_FALSE;
    if (PumpMessagesUntil([&] { return sink.completed; },
                          std::min<std::chrono::milliseconds>(left, kServerPoll))) {
      return S_OK;
    }
    VARIANT_BOOL active = VARIANT_FALSE;
    const HRESULT hr = check->IsActive(&active);
    if (MeansServerEnded(hr)) return hr;
  }
}

}  // namespace

CheckReport RunCheck(const CheckOptions& options, Deadline deadline) {
  ComApartment apartment;
  if (FAILED(apartment.Result())) return NoObject(apartment.Result(), u"CoInitializeEx failed");

  ComPtr<_UpdateCheck> check;
  HRESULT hr = CoCreateInstance(CLSID_UpdateCheck, nullptr, CLSCTX_LOCAL_SERVER, IID__UpdateCheck,
                                check.PutVoid());
  if (FAILED(hr)) return NoObject(hr, u"UpdateCheck could not be created");

  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  hr = check.As(IID_IConnectionPointContainer, container.PutVoid());
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___UpdateCheck, point.Put());
  if (FAILED(hr)) return NoObject(hr, u"UpdateCheck has no event connection point");

  CompletionSink* const sinkObject = new (std::nothrow) CompletionSink();
  if (!sinkObject) return NoObject(E_OUTOFMEMORY, u"out of memory");
  const ComPtr<CompletionSink> sink = ComPtr<CompletionSink>::Attach(sinkObject);
  DWORD cookie = 0;
  hr = point->Advise(sink.Get(), &cookie);
  if (FAILED(hr)) return NoObject(hr, u"the event sink could not be connected");
  const Advised advised(point, cookie);

  CheckReport report;
  std::u16string description;
  hr = StartCheck(check.Get(), Utf8ToText(options.url), description);
  if (MeansServerEnded(hr)) return ServerEndedReport(hr);
  if (FAILED(hr)) {
    report.stage = CheckStage::kStartRefused;
    report.error = static_cast<int32_t>(hr);
    report.description = description;
    return report;
  }

  hr = WaitForCompletion(check.Get(), *sink.Get(), deadline);
  if (hr == S_FALSE) return TimedOutReport(options);
  if (hr != S_OK) return ServerEndedReport(hr);
  report.stage = CheckStage::kCompleted;
  report.error = sink->number;
  report.description = sink->description;

  PublishedValues values;
  long number = 0;
  Bstr text;
  if (SUCCEEDED(hr = check->get_Major(&number))) values.major = number;
  if (SUCCEEDED(hr) && SUCCEEDED(hr = check->get_Minor(&number))) values.minor = number;
  if (SUCCEEDED(hr) && SUCCEEDED(hr = check->get_Build(&number))) values.build = number;
  if (SUCCEEDED(hr) && SUCCEEDED(hr = check->get_UpdateURL(text.Put()))) {
    values.updateURL = text.Text();
  }
  if (SUCCEEDED(hr) && SUCCEEDED(hr = check->get_VersionHistory(text.Put()))) {
    values.versionHistory = text.Text();
  }
  if (MeansServerEnded(hr)) return ServerEndedReport(hr);
  if (FAILED(hr)) return NoObject(hr, u"reading the published values failed");
  report.values = std::move(values);
  if (options.version) {
    VARIANT_BOOL available = VARIANT_FALSE;
    const auto& [major, minor, build] = *options.version;
    hr = check->IsUpgradeAvailable(major, minor, build, &available);
    if (MeansServerEnded(hr)) return ServerEndedReport(hr);
    if (FAILED(hr)) return NoObject(hr, u"IsUpgradeAvailable failed");
    report.upgradeAvailable = available != VARIANT_FALSE;
  }
  return report;
}

}  // namespace qel::tool
