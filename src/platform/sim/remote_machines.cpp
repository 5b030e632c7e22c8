#include "platform/sim/remote_machines.h"

#include "platform/output.h"
#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/san/san.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

/// Upper-case form of an ASCII name, as Windows writes machine names.
std::wstring UpperName(std::wstring_view name) {
  std::wstring upper(name);
  for (wchar_t& c : upper) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return upper;
}

/// A name that a connection path can carry and that is not the local
/// machine's own.
bool ValidName(const std::string& name, std::string* problem) {
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
    *problem = "a machine name is not empty and has no \\, / or :";
    return false;
  }
  const std::wstring wide = WidenAnsi(name);
  if (wide == L"." || SameName(wide, L"localhost") || SameName(wide, kLocalServer)) {
    *problem = "\"" + name + "\" names the local machine";
    return false;
  }
  return true;
}

bool ReadCredentials(const Json& entry, const DocPlace& place, RemoteMachine* machine,
                     std::string* error) {
  for (const char* key : {"user", "password"}) {
    if (entry.contains(key) && !entry[key].is_string()) {
      *error = place.KeyError(key, "\"" + std::string(key) + "\" must be text");
      return false;
    }
  }
  if (entry.contains("password") && !entry.contains("user")) {
    *error = place.KeyError("password", "a \"password\" needs a \"user\"");
    return false;
  }
  if (entry.contains("user")) {
    machine->user = WidenAnsi(entry["user"].get<std::string>());
    machine->password = WidenAnsi(entry.value("password", std::string()));
  }
  return true;
}

/// The SAN of one machine in its ROOT\WMI: the entry's "san", or an empty
/// one. Errors name the place under the entry.
bool InstallRemoteSan(const Json& entry, const DocPlace& place, Namespace& root,
                      std::string* error) {
  auto model = std::make_shared<SanModel>();
  if (entry.contains("san")) {
    std::string problem;
    if (!ParseSan(entry["san"], model.get(), &problem)) {
      *error = RelocatedError(place.Path(), place.Name(), problem);
      return false;
    }
  }
  DefineSanClasses(root);
  InstallSanProviders(root, std::move(model));
  return true;
}

bool ReadMachine(const std::string& name, const Json& entry, const DocPlace& place,
                 std::shared_ptr<Faults> faults, RemoteMachine* machine, std::string* error) {
  if (!entry.is_object()) {
    *error = place.Error("expected an object");
    return false;
  }
  if (entry.contains("remote")) {
    *error = place.KeyError("remote", "a remote machine has no remote machines of its own");
    return false;
  }
  if (!CheckKnownKeys(entry, place, {"user", "password", "san", "wmi"}, error) ||
      !ReadCredentials(entry, place, machine, error)) {
    return false;
  }
  machine->repository = std::make_shared<Repository>();
  Repository& repository = *machine->repository;
  repository.SetServer(UpperName(WidenAnsi(name)));
  repository.SetFaults(std::move(faults));
  Namespace& root = repository.Add(L"ROOT\\WMI");
  if (!InstallRemoteSan(entry, place, root, error)) return false;
  return !entry.contains("wmi") || LoadWmiData(entry["wmi"], place.Key("wmi"), repository, error);
}

}  // namespace

bool LoadRemoteMachines(const Json& section, std::shared_ptr<Faults> faults, WmiWorld& world,
                        std::string* error) {
  world.remotes.clear();
  if (section.is_null()) return true;
  const DocPlace remote("remote");
  if (!section.is_object()) {
    *error = remote.Error("expected an object of machines by name");
    return false;
  }
  for (const auto& [name, entry] : section.items()) {
    std::string problem;
    if (!ValidName(name, &problem)) {
      *error = remote.KeyError(name, problem);
      return false;
    }
    const std::wstring wide = WidenAnsi(name);
    if (world.remotes.count(wide) != 0) {
      *error = remote.KeyError(name, "\"" + name + "\" is named twice (letter case aside)");
      return false;
    }
    RemoteMachine machine;
    if (!ReadMachine(name, entry, remote.Key(name), faults, &machine, error)) return false;
    world.remotes.emplace(wide, std::move(machine));
  }
  return true;
}

}  // namespace platform::sim
