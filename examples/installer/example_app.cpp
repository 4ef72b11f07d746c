// Example App's own program: as small as a program gets. What the example
// shows is its installer, which carries QEL Update Checker beside it.
#include <cstdio>

int wmain() {
  std::puts("Example App 1.0.0");
  return 0;
}
