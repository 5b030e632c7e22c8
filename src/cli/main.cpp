// tollard's entry: chooses the machine (a simulated one named by
// TOLLARD_MACHINE, else the real Windows machine, else the built-in demo
// machine), runs the program and keeps the machine's changes.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/handlers.h"
#include "cli/shell.h"
#include "dsm/wmi_connection.h"
#include "platform/machine.h"
#include "platform/output.h"
#include "platform/sim/sim_machine.h"
#ifdef _WIN32
#include "platform/win32/win32_machine.h"
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

std::unique_ptr<platform::Machine> g_machine;

// The machine is opened only when a command needs it, so the help switches
// work even where the machine cannot be reached.
int OpenMachineAndConnect(platform::Output& out) {
  const char* file = std::getenv("TOLLARD_MACHINE");
  const bool simulated = file != nullptr && file[0] != '\0';
#ifdef _WIN32
  if (!simulated) g_machine = platform::win32::OpenMachine();
#endif
  if (!g_machine) {
    std::string error;
    g_machine = platform::sim::OpenMachine(simulated ? file : "", &error);
    if (!g_machine) {
      out.Flush();
      platform::StandardError().Line("tollard: " + error);
      std::exit(1);
    }
  }
  platform::SetMachine(g_machine.get());
  return dsm::ConnectWmi(out);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // A simulated machine of thousands of paths is hundreds of thousands of
  // small blocks. Growing the heap 64 MiB at a time instead of a page or
  // so at a time saves most of the system calls; untouched pages cost no
  // memory.
  mallopt(M_TOP_PAD, 64 << 20);
#endif
  cli::ShellEnvironment env;
  env.handlers = cli::TollardHandlers();
  env.connect = OpenMachineAndConnect;
  env.acquireMachine = [] { return g_machine ? g_machine->Acquire() : 0; };
  env.releaseMachine = [] {
    if (g_machine) g_machine->Release();
  };
  platform::Output& out = platform::StandardOutput();
  int status = cli::RunTollard(argc, argv, out, stdin, env);
  out.Flush();
  if (g_machine && g_machine->Finish() != 0 && status == 0) status = 1;
  return cli::ExitStatusOf(status);
}
