// The machine the programs act on: one backend, chosen once by main. The
// subsystems reach the platform's services through it and nothing else.
#pragma once

#include "platform/device_io.h"
#include "platform/registry.h"
#include "platform/setup.h"
#include "platform/system.h"
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
  /// The device-installation services (SetupAPI, newdev) of this machine.
  virtual DeviceSetup& Setup();
  /// Version, message texts, environment and files of this machine.
  virtual System& Sys();
  /// Each command is one transaction on the machine: a backend that other
  /// processes share (the simulated machine's file) is taken when it is
  /// opened and held until Release, so that what a command prints is what
  /// is stored and commands running at once behave as if run one after the
  /// other.
  ///
  /// Release keeps the changes made since the machine was taken and lets
  /// other processes at it. Returns 0, or 1 after writing one line to
  /// standard error (the changes are then lost, the old state stays).
  /// Nothing happens when the machine is not held.
  virtual int Release() { return 0; }
  /// Takes the machine again after Release, with what other processes
  /// changed meanwhile. Returns 0, or 1 after writing one line to standard
  /// error; the machine is then not held and must not be used until a
  /// later Acquire succeeds.
  virtual int Acquire() { return 0; }
  /// Called once when the program ends normally: releases the machine.
  virtual int Finish() { return Release(); }
};

/// Installs the machine chosen by main; the caller keeps ownership.
void SetMachine(Machine* machine);
/// The machine installed by main. Calling it before SetMachine is a bug.
Machine& CurrentMachine();

}  // namespace platform
