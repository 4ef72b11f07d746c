#include "tests/com/com_test_support.h"

#include <oleauto.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "com/bstr.h"
#include "com/unique_handle.h"
#include "common/text.h"
#include "tests/support/test_support.h"

namespace qel::test {

ComPtr<_UpdateCheck> CreateUpdateCheck(HRESULT* result) {
  ComPtr<_UpdateCheck> object;
  const HRESULT hr = CoCreateInstance(CLSID_UpdateCheck, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID__UpdateCheck, object.PutVoid());
  if (result) *result = hr;
  return object;
}

ComPtr<EventSink> EventSink::Create(Options options) {
  return ComPtr<EventSink>::Attach(new EventSink(std::move(options)));
}

HRESULT EventSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      (m_options.answersEventInterface && IsEqualIID(iid, DIID___UpdateCheck))) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG EventSink::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT EventSink::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                          EXCEPINFO* excepInfo, UINT*) {
  // Kept alive through the handler, which may call out and be called back.
  const ComPtr<EventSink> self(this);
  if (id != 1 || !IsEqualIID(iid, IID_NULL) || flags != DISPATCH_METHOD || !params ||
      params->cArgs != 2 || params->cNamedArgs != 0 || params->rgvarg[0].vt != VT_BSTR ||
      params->rgvarg[1].vt != VT_I4) {
    m_faults.push_back("a call without the shape of UpdateCheckComplete, dispid " +
                       std::to_string(id));
    return DISP_E_MEMBERNOTFOUND;
  }
  const int32_t number = params->rgvarg[1].lVal;
  const std::u16string description = com::TextFromBstr(params->rgvarg[0].bstrVal);
  m_events.push_back({number, description});
  if (m_options.onEvent) m_options.onEvent(number, description);
  if (m_options.result == DISP_E_EXCEPTION && excepInfo) {
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = E_FAIL;
    excepInfo->bstrSource = SysAllocString(L"failing sink");
    excepInfo->bstrDescription = SysAllocString(L"the handler raised an error");
  }
  return m_options.result;
}

HRESULT BusyHost::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  const bool ours = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter);
  *out = ours ? static_cast<IMessageFilter*>(this) : nullptr;
  return ours ? S_OK : E_NOINTERFACE;
}

DWORD BusyHost::HandleInComingCall(DWORD, HTASK, DWORD, INTERFACEINFO* info) {
  constexpr WORD kInvoke = 6;  // IDispatch's slot
  const bool event =
      info && info->wMethod == kInvoke &&
      (IsEqualIID(info->iid, IID_IDispatch) || IsEqualIID(info->iid, DIID___UpdateCheck));
  if (!event || std::chrono::steady_clock::now() >= m_busyUntil) return SERVERCALL_ISHANDLED;
  ++m_refusals;
  return SERVERCALL_REJECTED;
}

ComPtr<IConnectionPoint> FindEventPoint(IUnknown* object, HRESULT* result) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  HRESULT hr = object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___UpdateCheck, point.Put());
  if (result) *result = hr;
  return point;
}

HRESULT AdviseAndLetGo(IUnknown* object, IUnknown* sink) {
  HRESULT hr = E_FAIL;
  const auto point = FindEventPoint(object, &hr);
  DWORD cookie = 0;
  return point ? point->Advise(sink, &cookie) : hr;
}

Advised::Advised(IUnknown* object, IUnknown* sink) {
  m_point = FindEventPoint(object, &m_hr);
  if (m_point) m_hr = m_point->Advise(sink, &m_cookie);
}

Advised::~Advised() {
  if (SUCCEEDED(m_hr)) m_point->Unadvise(m_cookie);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  // Some conditions (a process ending) come with no message: look again
  // every few milliseconds rather than only when one arrives.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done();
    if (WaitFor(done, std::min(left, std::chrono::milliseconds(20)))) return true;
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  WaitFor([] { return false; }, duration);
}

void CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                const std::vector<Argument>& arguments, LateBoundCall& call) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  call.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(call.hr)) return;
  // Dispatch order: the last argument first.
  std::vector<VARIANTARG> args(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    VARIANTARG& arg = args[arguments.size() - 1 - i];
    VariantInit(&arg);
    if (const auto* number = std::get_if<int32_t>(&arguments[i])) {
      arg.vt = VT_I4;
      arg.lVal = *number;
    } else {
      arg.vt = VT_BSTR;
      arg.bstrVal = com::Bstr(std::get<std::u16string>(arguments[i])).Detach();
    }
  }
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  UINT argError = 0;
  call.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, call.result.Put(),
                           call.excepInfo.Put(), &argError);
  call.excepInfo.Fill();
  for (auto& arg : args) VariantClear(&arg);
}

std::u16string TextOf(BSTR bstr) { return com::TextFromBstr(bstr); }
std::u16string TextOf(const std::string& text) { return Utf8ToText(text); }

namespace {

std::wstring ModuleDirectory() {
  std::vector<wchar_t> buffer(MAX_PATH * 4);
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH * 4);
  const DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  return std::wstring(buffer.data(), length);
}

}  // namespace

std::wstring ServerPath() {
  // The build tree holds tests/com/<this test> and server/<the server>.
  return FullPath(ModuleDirectory() + L"..\\..\\server\\QELUpdateCheck1_1.exe");
}

std::wstring TestServerPath() {
  return FullPath(ModuleDirectory() + L"..\\..\\tests\\com\\test_server\\QELUpdateCheck1_1.exe");
}

std::wstring SiblingPath(const wchar_t* fileName) { return ModuleDirectory() + fileName; }

std::vector<DWORD> ServerProcessIds(const wchar_t* exeName) {
  std::vector<DWORD> ids;
  const com::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, exeName, -1, TRUE) == CSTR_EQUAL) {
      ids.push_back(entry.th32ProcessID);
    }
  }
  return ids;
}

size_t ServerProcessCount() { return ServerProcessIds().size(); }

void TerminateServerProcesses() {
  for (const DWORD id : ServerProcessIds()) {
    const com::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process && TerminateProcess(process.Get(), 1)) WaitForSingleObject(process.Get(), 5000);
  }
}

ChildProcess::~ChildProcess() {
  if (WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_process.Get(), 1);
    WaitForSingleObject(m_process.Get(), 10000);
  }
}

std::unique_ptr<ChildProcess> StartChild(const std::wstring& path, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  return std::make_unique<ChildProcess>(process);
}

std::wstring HandleArgument(HANDLE handle) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(handle));
}

int RunServer(const std::wstring& switchText, const std::wstring& path) {
  std::wstring commandLine = L"\"" + path + L"\" " + switchText;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  const com::UniqueHandle processHandle(process.hProcess);
  const com::UniqueHandle threadHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(processHandle.Get(), 30000) == WAIT_OBJECT_0)
    GetExitCodeProcess(processHandle.Get(), &code);
  return static_cast<int>(code);
}

}  // namespace qel::test
