// The baseline process of the activation and footprint benchmarks: a Windows
// program that does what the server does before its own work begins (COM
// initialised in a single-threaded apartment, a message queue, the same
// system libraries loaded) and nothing else.
//   bench_baseline_process <ready event> <quit event>
// It signals the first event when it is ready, then idles until the second
// is signalled (at most a minute).

#include <windows.h>

#include <objbase.h>

#include "com/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  // The server imports these; a bare program would not load them.
  const HMODULE wininet = LoadLibraryW(L"wininet.dll");
  const HMODULE oleaut32 = LoadLibraryW(L"oleaut32.dll");
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  const qel::com::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
  const qel::com::UniqueHandle quit(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
  int result = 1;
  if (ready && quit && wininet && oleaut32) {
    SetEvent(ready.Get());
    result = WaitForSingleObject(quit.Get(), 60000) == WAIT_OBJECT_0 ? 0 : 1;
  }
  CoUninitialize();
  return result;
}
