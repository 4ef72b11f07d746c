// A host for the lifetime suite's cold starts: it says it is ready, waits for
// the word, creates an UpdateCheck (starting the server if none serves yet),
// makes one call on it, says so, and lets go when told.
//   qel_cold_start_host <ready semaphore> <go event> <made semaphore> <let-go event>
// Exit code 0 if the object was made and answered.

#include <windows.h>

#include <objbase.h>

#include <cwchar>

#include "tests/com/com_test_support.h"

namespace {

HANDLE HandleFrom(const wchar_t* text) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(text, nullptr, 10)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace qel::test;
  if (argc != 5) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  const HANDLE ready = HandleFrom(argv[1]);
  const HANDLE go = HandleFrom(argv[2]);
  const HANDLE made = HandleFrom(argv[3]);
  const HANDLE letGo = HandleFrom(argv[4]);
  ReleaseSemaphore(ready, 1, nullptr);
  if (WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 4;

  int code = 0;
  {
    auto object = CreateUpdateCheck();
    VARIANT_BOOL active = VARIANT_TRUE;
    if (!object) {
      code = 5;
    } else if (object->IsActive(&active) != S_OK || active != VARIANT_FALSE) {
      code = 6;
    }
    ReleaseSemaphore(made, 1, nullptr);
    if (WaitForSingleObject(letGo, 60000) != WAIT_OBJECT_0) code = 7;
  }
  CoUninitialize();
  return code;
}
