// The simulated machine's COM runtime and WMI services.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sim/faults/faults.h"
#include "platform/sim/wmi/repository.h"
#include "platform/wmi.h"

namespace platform::sim {

/// Another machine that the simulated one reaches by name, with a
/// repository of its own.
struct RemoteMachine {
  /// The user a connection must give (the letter case of ASCII letters
  /// aside), with exactly this password; none: any or no user will do.
  std::optional<std::wstring> user;
  std::wstring password;
  std::shared_ptr<Repository> repository;
};

/// What the simulated WMI needs of its machine.
struct WmiWorld {
  std::shared_ptr<Faults> faults;
  Repository* repository = nullptr;
  /// The other machines, by name (compared without ASCII letter case).
  std::map<std::wstring, RemoteMachine, NameLess> remotes;
  /// The impersonation level a new proxy gets: the machine's default
  /// (identify) until the process's security set-up names its own.
  uint32_t processImpLevel = 2;  // RPC_C_IMP_LEVEL_IDENTIFY
  /// The error object left by the last failed call (GetErrorInfo).
  std::mutex errorMutex;
  wmi::ObjectPtr lastError;
};

/// The COM runtime of a simulated machine; every call can be made to fail
/// through the machine's faults.
std::unique_ptr<wmi::Runtime> MakeRuntime(std::shared_ptr<WmiWorld> world);

/// Splits an object path Class.Key="value" (or Class=@, or a class name)
/// into its parts; false for a malformed path.
bool ParseObjectPath(std::wstring_view path, std::wstring* className, std::wstring* keyName,
                     std::wstring* keyValue);

}  // namespace platform::sim
