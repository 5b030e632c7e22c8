// The installer's result lines and error texts.
#pragma once

#include <cstdint>

#include "install/installer.h"

namespace install {

/// One line for an error code: the system's message for its low 16 bits
/// (" <text>\n"), or " Error code (0x%08x)\n" when there is none.
void PrintErrorText(Installer& in, Win32Error code);
/// "Failure." followed by the error text, as one line.
void PrintFailure(Installer& in, Win32Error code);
/// A device step's success: "Success \n" or "Success (but need a reboot)\n".
void PrintDeviceSuccess(Installer& in, uint32_t reboot);

}  // namespace install
