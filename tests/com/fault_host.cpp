// A host for the fault suite, to be killed in the middle of a check: it
// creates its own UpdateCheck, connects a sink, starts a check of the URL it
// is given, says so, and waits to be killed.
//   qel_fault_host <version file URL> <inherited event handle>

#include <windows.h>

#include <objbase.h>

#include <cwchar>

#include "com/bstr.h"
#include "tests/com/com_test_support.h"

int wmain(int argc, wchar_t** argv) {
  using namespace qel::test;
  if (argc != 3) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  const auto ready =
      reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(argv[2], nullptr, 10)));

  const auto object = CreateUpdateCheck();
  if (!object) return 4;
  const auto sink = EventSink::Create();
  const Advised advised(object.Get(), sink.Get());
  if (FAILED(advised.Result())) return 5;
  const qel::com::Bstr url(reinterpret_cast<const char16_t*>(argv[1]));
  if (FAILED(object->StartCheck(url.Get()))) return 6;
  SetEvent(ready);

  // Killed from outside before the check can end; should it end all the
  // same, the host goes on waiting, holding everything.
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
