// The machine the programs act on: one backend, chosen once by main. The
// subsystems reach the platform's services through it and nothing else.
#pragma once

#include "platform/device_io.h"
#include "platform/registry.h"
#include "platform/wmi.h"

namespace platform {

/// A backend: the real Windows machine (win32) or a simulated one (sim).
class Machine {
 public:
  virtual ~Machine() = default;
  /// The COM runtime and the WMI services of this machine.
  virtual wmi::Runtime& Wmi() = 0;
  /// The registry of this machine.
  virtual Registry& Reg();
  /// The devices (disks, SCSI ports) of this machine.
  virtual DeviceIo& Devices();
  /// Called once when the program ends normally: keeps the changes made by
  /// the command (the sim writes its machine file back). Returns 0, or 1
  /// after writing one line to standard error.
  virtual int Finish() = 0;
  /// Brings the machine up to date with changes made by other processes
  /// (the shell's child commands) before the shell runs a command itself.
  /// Keeps the current state and writes one line to standard error when
  /// that fails.
  virtual void Refresh() {}
};

/// Installs the machine chosen by main; the caller keeps ownership.
void SetMachine(Machine* machine);
/// The machine installed by main. Calling it before SetMachine is a bug.
Machine& CurrentMachine();

}  // namespace platform
