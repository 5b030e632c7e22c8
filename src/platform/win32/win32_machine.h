// Opening the real Windows machine: the win32 backend.
#pragma once

#include <memory>

#include "platform/machine.h"

namespace platform::win32 {

/// The machine this program runs on, reached through COM/WMI and the
/// other Win32 services.
std::unique_ptr<Machine> OpenMachine();

}  // namespace platform::win32
