// QELUpdateCheck1_1.exe: the out-of-process server for UpdateCheck. It shows
// no window; its switches register or unregister it (or print its usage to
// standard error), and COM starts it with -Embedding to serve hosts until
// their last object has gone (or, if no host takes it up, for a few seconds).

#include <windows.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "server/limits/connection_limits.h"
#include "server/limits/served_limits.h"
#include "server/process/call_security.h"
#include "server/process/class_factory.h"
#include "server/process/event_couriers.h"
#include "server/process/object_threads.h"
#include "server/process/server_lifetime.h"
#include "server/process/server_loop.h"
#include "server/registration/command_line.h"
#include "server/registration/registration.h"
#include "server/registration/standard_error.h"

namespace {

using namespace qel::com;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

HRESULT Serve() {
  if (const HRESULT security = InitializeCallSecurity(); FAILED(security)) return security;
  // Checks still work with the limit as it comes, only less independently.
  RaiseConnectionLimits();
  ServerLifetime lifetime(GetCurrentThreadId());
  EventCouriers couriers(lifetime);
  ObjectThreads threads(lifetime, couriers, ServedLimits());
  auto factory = ComPtr<IClassFactory>::Attach(new ClassFactory(threads, lifetime));
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(CLSID_UpdateCheck, factory.Get(), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
  if (FAILED(hr)) return hr;
  hr = CoResumeClassObjects();
  if (SUCCEEDED(hr)) RunServerLoop(lifetime);
  lifetime.End();
  CoRevokeClassObject(cookie);
  AnswerWhatIsQueued();
  // Nothing holds the server: no object is left, and no event is on its way.
  threads.JoinAll();
  couriers.JoinAll();
  return hr;
}

// Says so when another copy's registration was left alone.
HRESULT Unregister(RegistrationScope scope) {
  std::wstring other;
  const HRESULT hr = UnregisterServer(scope, &other);
  if (hr == S_FALSE) {
    WriteStandardError(std::wstring(L"QELUpdateCheck1_1: nothing removed: the update checker is "
                                    L"registered ") +
                       (scope == RegistrationScope::Machine ? L"machine-wide" : L"for this user") +
                       L" to " + other + L", not to this file\n");
  }
  return hr;
}

HRESULT Run(ServerAction action) {
  switch (action) {
    case ServerAction::Serve:
      return Serve();
    case ServerAction::Register:
      return RegisterServer(RegistrationScope::Machine);
    case ServerAction::Unregister:
      return Unregister(RegistrationScope::Machine);
    case ServerAction::RegisterPerUser:
      return RegisterServer(RegistrationScope::User);
    case ServerAction::UnregisterPerUser:
      return Unregister(RegistrationScope::User);
    case ServerAction::Help:
      break;
  }
  return E_INVALIDARG;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    const std::vector<std::wstring> arguments = ProcessArguments();
    const auto action = ParseCommandLine(arguments);
    if (!action || *action == ServerAction::Help) {
      WriteStandardError(UsageText(arguments));
      return action ? kExitSuccess : kExitUsage;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return kExitFailure;
    const HRESULT hr = Run(*action);
    // A serving process ends here without uninitialising COM: a host's last
    // release (of the class object, say) can still be on its way into this
    // apartment, and Wine's CoUninitialize then waits for that call forever,
    // since nothing dispatches it any more. Ending the process frees it all.
    if (*action != ServerAction::Serve) CoUninitialize();
    return SUCCEEDED(hr) ? kExitSuccess : kExitFailure;
  } catch (...) {
    return kExitFailure;
  }
}
