#include "platform/machine.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Machine* g_machine = nullptr;
}

void SetMachine(Machine* machine) { g_machine = machine; }

Machine& CurrentMachine() {
  if (g_machine == nullptr) {
    std::fputs("internal error: no machine selected\n", stderr);
    std::abort();
  }
  return *g_machine;
}

}  // namespace platform
