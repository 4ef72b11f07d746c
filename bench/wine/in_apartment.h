// How every host program under bench/wine runs: on its main thread, in a
// single-threaded apartment, as an application's user-interface thread does.
#pragma once

#include <objbase.h>

namespace qel::bench {

// run()'s result, or 1 if COM would not start.
inline int RunInApartment(int (*run)()) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int result = run();
  CoUninitialize();
  return result;
}

}  // namespace qel::bench
