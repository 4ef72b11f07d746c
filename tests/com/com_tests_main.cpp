// The main of every COM test program: the tests run on a single-threaded
// apartment, against the server registered in the build tree's Wine prefix.

#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
