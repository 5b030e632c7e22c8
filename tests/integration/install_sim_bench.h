// Test helper: the installer on a simulated machine built from a JSON
// document in memory, its output captured. It reaches into the simulated
// machine's parts (its device tree, its document), so it lives here and
// not beside the installer's code.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "install/installer.h"
#include "platform/sim/faults/faults.h"
#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/registry/registry.h"
#include "platform/sim/setup/setup_world.h"

namespace install {

class SimBench {
 public:
  using Json = nlohmann::ordered_json;

  explicit SimBench(const Json& document, platform::OsVersionInfo version = {5, 2, 3790}) {
    state_.Adopt(document, "");
    std::string error;
    faults_ = std::make_shared<platform::sim::Faults>();
    EXPECT_TRUE(faults_->Load(document.contains("faults") ? document["faults"] : Json(), &error))
        << error;
    registry_ = platform::sim::MakeRegistry(state_, faults_, &error);
    EXPECT_TRUE(registry_) << error;
    setup_ = platform::sim::MakeSimSetup(state_, *registry_, faults_, &error);
    EXPECT_TRUE(setup_) << error;
    installer_ = std::make_unique<Installer>(out_, *setup_->setup, *setup_->system, *registry_);
    installer_->version = version;
  }

  Installer& In() { return *installer_; }
  std::string Output() const { return out_.Text(); }
  /// The machine document with every change made so far.
  const Json& Document() const { return state_.Document(); }
  platform::sim::SetupWorld& World() { return *setup_->world; }

 private:
  platform::sim::MachineState state_;
  std::shared_ptr<platform::sim::Faults> faults_;
  std::unique_ptr<platform::Registry> registry_;
  std::unique_ptr<platform::sim::SimSetup> setup_;
  platform::StringOutput out_;
  std::unique_ptr<Installer> installer_;
};

}  // namespace install
