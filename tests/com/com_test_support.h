// What the COM suites share: activation of the server, an event sink that
// records what reaches it, late-bound calls, and the server's process.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "com/excep_info.h"
#include "com/unique_handle.h"
#include "tests/com/variant.h"

namespace qel::test {

using com::ComPtr;

inline constexpr auto kEventTimeout = std::chrono::seconds(10);

// A new UpdateCheck from the registered local server; empty on failure, with
// the reason in `result`.
ComPtr<_UpdateCheck> CreateUpdateCheck(HRESULT* result = nullptr);

// A sink for UpdateCheckComplete living in this (single-threaded) apartment.
class EventSink final : public IDispatch {
 public:
  struct Options {
    // Whether the sink admits to being an __UpdateCheck, or only an IDispatch.
    bool answersEventInterface = true;
    // What Invoke returns; DISP_E_EXCEPTION comes with an EXCEPINFO.
    HRESULT result = S_OK;
    // Runs inside the event, after it has been recorded.
    std::function<void(int32_t, const std::u16string&)> onEvent;

    static Options Failing(HRESULT hr) {
      Options options;
      options.result = hr;
      return options;
    }
    static Options DispatchOnly() {
      Options options;
      options.answersEventInterface = false;
      return options;
    }
    static Options Calling(std::function<void(int32_t, const std::u16string&)> onEvent) {
      Options options;
      options.onEvent = std::move(onEvent);
      return options;
    }
  };
  struct Received {
    int32_t number;
    std::u16string description;
  };

  static ComPtr<EventSink> Create(Options options);
  static ComPtr<EventSink> Create() { return Create(Options{}); }

  const std::vector<Received>& Events() const { return m_events; }
  // The references held on this sink, the test's own included.
  ULONG References() const { return m_refs; }
  // Calls that did not have the event's shape; empty when all was well.
  const std::vector<std::string>& Faults() const { return m_faults; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;

 private:
  explicit EventSink(Options options) : m_options(std::move(options)) {}
  ~EventSink() = default;

  ULONG m_refs = 1;
  Options m_options;
  std::vector<Received> m_events;
  std::vector<std::string> m_faults;
};

// The object's connection point for UpdateCheckComplete; empty on failure,
// with the reason in `result`.
ComPtr<IConnectionPoint> FindEventPoint(IUnknown* object, HRESULT* result = nullptr);

// Connects `sink` to the object's event and lets go of the connection point
// without breaking the connection, as a host that forgets to do so.
HRESULT AdviseAndLetGo(IUnknown* object, IUnknown* sink);

// A connection of a sink to an object's event, broken when it goes.
class Advised {
 public:
  Advised(IUnknown* object, IUnknown* sink);
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  ~Advised();
  HRESULT Result() const { return m_hr; }
  DWORD Cookie() const { return m_cookie; }
  IConnectionPoint* Point() const { return m_point.Get(); }

 private:
  ComPtr<IConnectionPoint> m_point;
  HRESULT m_hr = E_FAIL;
  DWORD m_cookie = 0;
};

// This thread's message filter while it lives, as a busy host has one: until
// the time given to BusyFor, it turns every event call (IDispatch::Invoke)
// away with SERVERCALL_REJECTED, and counts them. COM's references to it end
// with its registration.
class BusyHost final : public IMessageFilter {
 public:
  BusyHost() { CoRegisterMessageFilter(this, m_previous.Put()); }
  BusyHost(const BusyHost&) = delete;
  BusyHost& operator=(const BusyHost&) = delete;
  ~BusyHost() {
    ComPtr<IMessageFilter> ours;
    CoRegisterMessageFilter(m_previous.Get(), ours.Put());
  }
  // Busy from now on, for `duration`.
  void BusyFor(std::chrono::milliseconds duration) {
    m_busyUntil = std::chrono::steady_clock::now() + duration;
  }
  size_t Refusals() const { return m_refusals; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, INTERFACEINFO* info) override;
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return ~DWORD{0}; }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  ComPtr<IMessageFilter> m_previous;
  std::chrono::steady_clock::time_point m_busyUntil;
  size_t m_refusals = 0;
};

// Runs this thread's message loop until done() or the time-out.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = kEventTimeout);
void PumpFor(std::chrono::milliseconds duration);

// A late-bound call by name, as script hosts make it.
using Argument = std::variant<int32_t, std::u16string>;
struct LateBoundCall {
  HRESULT hr = E_FAIL;
  com::Variant result;
  com::ExcepInfo excepInfo;
};
void CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                const std::vector<Argument>& arguments, LateBoundCall& call);

std::u16string TextOf(BSTR bstr);
std::u16string TextOf(const std::string& text);

// The server's executable in this build tree, and processes running it.
std::wstring ServerPath();
// The test build of the server (its checks' limits 1.5 s) in this build tree.
std::wstring TestServerPath();
// A program next to the running test executable.
std::wstring SiblingPath(const wchar_t* fileName);
inline constexpr const wchar_t* kServerExeName = L"QELUpdateCheck1_1.exe";
// The processes running `exeName` (the server's, unless another is named).
std::vector<DWORD> ServerProcessIds(const wchar_t* exeName = kServerExeName);
size_t ServerProcessCount();
// Ends every running server process; for clean-up only.
void TerminateServerProcesses();
// Runs the server (or another build of it) with one switch and returns its
// exit code (or -1).
int RunServer(const std::wstring& switchText, const std::wstring& path = ServerPath());

// A child process of a test, ended however the test ends.
class ChildProcess {
 public:
  explicit ChildProcess(const PROCESS_INFORMATION& info)
      : m_process(info.hProcess), m_thread(info.hThread) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();
  HANDLE Get() const { return m_process.Get(); }

 private:
  com::UniqueHandle m_process;
  com::UniqueHandle m_thread;
};

// Starts `path` with `arguments`, handing it this process's inheritable
// handles; null if it could not be started.
std::unique_ptr<ChildProcess> StartChild(const std::wstring& path, const std::wstring& arguments);

// A handle as a child process finds it on its command line.
std::wstring HandleArgument(HANDLE handle);

}  // namespace qel::test
