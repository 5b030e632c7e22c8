#include "platform/sim/sim_machine.h"

#include <cstdlib>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/sim/demo_machine.h"
#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/registry/registry.h"
#include "platform/sim/remote_machines.h"
#include "platform/sim/san/san.h"
#include "platform/sim/scsi/disks.h"
#include "platform/sim/setup/setup_world.h"
#include "platform/sim/wmi/sim_wmi.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

constexpr const wchar_t* kRootWmi = L"ROOT\\WMI";

class SimMachine : public Machine {
 public:
  SimMachine() : world_(std::make_shared<WmiWorld>()) {
    world_->faults = std::make_shared<Faults>();
    world_->repository = &repository_;
    // Before anything is built, so that raw instances check the faults too.
    repository_.SetFaults(world_->faults);
  }

  bool Open(const std::string& path, std::string* error) { return Take(path, error); }

  wmi::Runtime& Wmi() override { return *runtime_; }
  DeviceIo& Devices() override { return *devices_; }
  Registry& Reg() override { return *registry_; }
  DeviceSetup& Setup() override { return *setup_->setup; }
  System& Sys() override { return *setup_->system; }

  int Release() override {
    if (!lock_.Held()) return 0;
    std::string error;
    const bool written = state_.WriteBack(&error);
    lock_.Release();
    if (written) return 0;
    StandardError().Line("tollard: " + error);
    return 1;
  }

  // Reads the file afresh, with what other processes wrote meanwhile.
  int Acquire() override {
    if (lock_.Held()) return 0;
    std::string error;
    if (Take(state_.Path(), &error)) return 0;
    StandardError().Line("tollard: " + error);
    return 1;
  }

 private:
  // The machine is taken before its file is read and kept until the
  // command's changes are written. On failure it is not held.
  bool Take(const std::string& path, std::string* error) {
    std::string reason;
    if (!lock_.Acquire(path + ".lock", &reason)) {
      *error = path + ": cannot lock machine file: " + reason;
      return false;
    }
    MachineState latest;
    if (latest.Load(path, error)) {
      state_ = std::move(latest);
      repository_.Clear();
      if (Build(error)) return true;
    }
    lock_.Release();
    return false;
  }

  static const nlohmann::ordered_json& Section(const nlohmann::ordered_json& document,
                                               const char* name) {
    static const nlohmann::ordered_json kNone;
    auto it = document.find(name);
    return it == document.end() ? kNone : *it;
  }

  bool Build(std::string* error) {
    const auto& document = state_.Document();
    std::string problem;
    Namespace& root = repository_.Add(kRootWmi);
    std::shared_ptr<SanModel> model;
    std::unique_ptr<DeviceIo> devices;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<SimSetup> setup;
    if (!CheckMachineSections(document, &problem) ||
        !world_->faults->Load(Section(document, "faults"), &problem) ||
        !(registry = MakeRegistry(state_, world_->faults, &problem)) ||
        !(setup = MakeSimSetup(state_, *registry, world_->faults, &problem)) ||
        !InstallSan(state_, root, &problem, &model) ||
        !(devices = MakeDisks(state_, model, world_->faults, &problem)) ||
        !LoadWmiData(Section(document, "wmi"), repository_, &problem) ||
        !LoadRemoteMachines(Section(document, "remote"), world_->faults, *world_, &problem)) {
      *error = MachineFileError(state_.Path(), problem);
      return false;
    }
    if (!runtime_) runtime_ = MakeRuntime(world_);
    devices_ = std::move(devices);
    registry_ = std::move(registry);
    setup_ = std::move(setup);
    return true;
  }

  FileLock lock_;
  Repository repository_;
  MachineState state_;
  std::shared_ptr<WmiWorld> world_;
  std::unique_ptr<wmi::Runtime> runtime_;
  std::unique_ptr<DeviceIo> devices_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<SimSetup> setup_;  // after registry_: it refers to it
};

// $XDG_STATE_HOME/tollard, else ~/.local/state/tollard.
std::string DemoFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/tollard";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') home = std::getenv("USERPROFILE");
  if (home == nullptr || home[0] == '\0') return {};
  return std::string(home) + "/.local/state/tollard";
}

// Creates the demo machine's state file on first use. The lock keeps two
// first runs from writing it at the same time.
bool EnsureDemoFile(const std::string& folder, const std::string& path, std::string* error) {
  std::string reason;
  if (!MakeDirectories(folder, &reason)) {
    *error = folder + ": cannot create the state folder: " + reason;
    return false;
  }
  FileLock lock;
  if (!lock.Acquire(path + ".lock", &reason)) {
    *error = path + ": cannot lock machine file: " + reason;
    return false;
  }
  if (FileExists(path)) return true;
  const std::string temporary = path + ".new";
  if (!WriteWholeFile(temporary, DemoMachine().dump(2) + "\n", &reason) ||
      !ReplaceFileAtomically(temporary, path, &reason)) {
    *error = path + ": cannot write the demo machine: " + reason;
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<Machine> OpenMachine(const std::string& path, std::string* error) {
  std::string file = path;
  if (file.empty()) {
    const std::string folder = DemoFolder();
    if (folder.empty()) {
      *error = "cannot find a state folder for the demo machine (set XDG_STATE_HOME or HOME)";
      return nullptr;
    }
    file = folder + "/machine.json";
    if (!EnsureDemoFile(folder, file, error)) return nullptr;
  }
  auto machine = std::make_unique<SimMachine>();
  if (!machine->Open(file, error)) return nullptr;
  return machine;
}

}  // namespace platform::sim
