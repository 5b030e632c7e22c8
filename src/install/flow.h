// The installer's command line and its two sequences.
#pragma once

#include <string>
#include <vector>

#include "install/installer.h"
#include "platform/machine.h"

namespace install {

/// Runs the installer on `machine` with the program's arguments (without
/// the program name), writing to `out`. The outcome is told only by the
/// printed lines: there is no result.
void RunInstaller(const std::vector<std::string>& args, platform::Machine& machine,
                  platform::Output& out);

/// The usage text.
void PrintInstallerUsage(platform::Output& out);

/// Installs the package; `full` false skips the framework's bus step.
void InstallPackage(Installer& in, const std::string& source, const std::string& common,
                    const std::string& dsmInf, const std::string& dsmHardwareId, bool full);
/// Uninstalls the package.
void UninstallPackage(Installer& in, const std::string& source, const std::string& common,
                      const std::string& dsmInf, const std::string& dsmHardwareId);

}  // namespace install
