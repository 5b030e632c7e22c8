// install's entry: chooses the machine (a simulated one named by
// TOLLARD_MACHINE, else the real Windows machine, else the built-in demo
// machine), runs the installer and keeps the machine's changes. The exit
// status is 0 whatever happened: the printed lines tell the outcome.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "install/flow.h"
#include "platform/machine.h"
#include "platform/output.h"
#include "platform/sim/sim_machine.h"
#ifdef _WIN32
#include "platform/win32/win32_machine.h"
#endif

int main(int argc, char** argv) {
  platform::Output& out = platform::StandardOutput();
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.size() != 5) {
    install::PrintInstallerUsage(out);
    out.Flush();
    return 0;
  }
  const char* file = std::getenv("TOLLARD_MACHINE");
  const bool simulated = file != nullptr && file[0] != '\0';
  std::unique_ptr<platform::Machine> machine;
#ifdef _WIN32
  if (!simulated) machine = platform::win32::OpenMachine();
#endif
  if (!machine) {
    std::string error;
    machine = platform::sim::OpenMachine(simulated ? file : "", &error);
    if (!machine) {
      platform::StandardError().Line("install: " + error);
      return 1;
    }
  }
  platform::SetMachine(machine.get());
  install::RunInstaller(args, *machine, out);
  out.Flush();
  machine->Finish();
  return 0;
}
