// Fuzzes machine files: the input is the file. It is opened as tollard
// opens it, every DSM command runs on it (with serial numbers, path ids
// and adapter ports taken from its own path listing), and the changes are
// written back to the file, which replays the commands' edits on a fresh
// read. The san and wmi sections are also read on their own. Inputs may be
// large and deeply nested (see fuzz/README.md): a file nested thousands of
// levels deep must be refused, not overflow the stack.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "cli/handlers.h"
#include "dsm/wmi_connection.h"
#include "fuzz_check.h"
#include "platform/machine.h"
#include "platform/output.h"
#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/machine_file/json_reader.h"
#include "platform/sim/san/san_model.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/wmi/repository.h"
#include "platform/sim/wmi/wmi_data.h"

namespace {

using Json = nlohmann::ordered_json;

// A folder of this process's own, in memory where the system has one,
// removed when the fuzzer ends.
class WorkFolder {
 public:
  WorkFolder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    path_ = std::string(base != nullptr ? base : "/tmp") + "/tollard-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(path_.data()) != nullptr);
  }
  ~WorkFolder() { rmdir(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
}

// The value of the first "<label>:" line of a path listing, or "0".
std::string FirstField(const std::string& listing, const std::string& label) {
  size_t at = listing.find("\n " + label + ":");
  if (at == std::string::npos) return "0";
  size_t start = listing.find_first_not_of(' ', at + label.size() + 3);
  size_t end = listing.find('\n', start);
  return listing.substr(start, end - start);
}

int Run(const std::vector<std::string>& words, platform::Output& out) {
  static const cli::CommandHandlers handlers = cli::TollardHandlers();
  std::vector<const char*> pointers;
  for (const std::string& word : words) pointers.push_back(word.c_str());
  return cli::DispatchCommand(static_cast<int>(pointers.size()), pointers.data(), handlers, out);
}

void RunCommands() {
  platform::StringOutput out;
  Run({"devinfo"}, out);
  Run({"pathinfo"}, out);
  const std::string listing = out.Text();
  const std::string serial = FirstField(listing, "SerialNumber");
  const std::string pathId = FirstField(listing, "PathId");
  const std::string hba = FirstField(listing, "HbaWWPN");
  const std::vector<std::vector<std::string>> commands = {
      {"pathinfo", "sn", serial},
      {"pathinfo", "hba", hba},
      {"policies"},
      {"devinfo", serial, "Weighted"},
      {"devinfo", serial, "FailOver"},
      {"devinfo", serial, "failback-on"},
      {"devinfo", "all", "RoundRobin"},
      {"devinfo", "all", "failback-off"},
      {"primary", pathId},
      {"secondary", pathId},
      {"weight", pathId, "7"},
      {"pathinfo", hba, "standby"},
      {"pathinfo", hba, "failed"},
      {"clear"},
      {"devinfo"},
      {"pathinfo"},
      // The drives and their reservations, kept in the same file.
      {"iostatus"},
      {"pgr", "list"},
      {"pgr", "register", "1", "AAAAAAAA"},
      {"pgr", "register", "2.0.0.1", "BBBBBBBB"},
      {"pgr", "reserve", "1", "AAAAAAAA"},
      {"pgr", "release", "1", "AAAAAAAA"},
      {"pgr", "clear", "2.0.0.1", "BBBBBBBB"},
      {"pgr", "tur", "1"},
      {"pgr"},
      {"pgr", "enable", "ABCDEFGH"},
      {"set", "DsmRetryCount", "3"},
  };
  for (const auto& command : commands) Run(command, out);
}

// Equal values of the same JSON kinds all the way down (1 and 1u differ).
bool SameDocument(const Json& a, const Json& b) {
  if (a.type() != b.type() || a.size() != b.size()) return false;
  if (a.is_object()) {
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
      if (i.key() != j.key() || !SameDocument(*i, *j)) return false;
    }
    return true;
  }
  if (a.is_array()) {
    for (size_t i = 0; i < a.size(); ++i) {
      if (!SameDocument(a[i], b[i])) return false;
    }
    return true;
  }
  return a == b;
}

// The quick reader, where it takes the text, must read what nlohmann reads.
// Then the sections on their own, each on a repository of its own, so a
// broken san section does not hide the wmi section from the fuzzer.
void ReadSections(const uint8_t* data, size_t size) {
  Json document = Json::parse(data, data + size, nullptr, false);
  // The readers below recurse; tollard refuses deeper files before them.
  if (!platform::sim::WithinJsonDepth(document)) return;
  Json quick;
  if (platform::sim::ReadPlainJson({reinterpret_cast<const char*>(data), size}, &quick)) {
    FUZZ_CHECK(SameDocument(quick, document));
  }
  if (document.is_discarded() || !document.is_object()) return;
  std::string error;
  if (auto san = document.find("san"); san != document.end()) {
    platform::sim::SanModel model;
    if (platform::sim::ParseSan(*san, &model, &error)) {
      // Every LUN entry of the section is in the model.
      const auto luns = san->find("luns");
      FUZZ_CHECK(model.luns.size() == (luns != san->end() ? luns->size() : 0));
    } else {
      FUZZ_CHECK(!error.empty());
    }
  }
  if (auto wmi = document.find("wmi"); wmi != document.end()) {
    platform::sim::Repository repository;
    platform::sim::LoadWmiData(*wmi, repository, &error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const WorkFolder folder;
  const std::string path = folder.Path() + "/machine.json";
  WriteFile(path, data, size);
  ReadSections(data, size);
  std::string error;
  std::unique_ptr<platform::Machine> machine = platform::sim::OpenMachine(path, &error);
  if (machine) {
    platform::SetMachine(machine.get());
    platform::StringOutput out;
    if (dsm::ConnectWmi(out) == 0) RunCommands();
    // The connection refers to the machine, which ends with this input.
    dsm::WmiServices().reset();
    dsm::WmiLocator().reset();
    machine->Finish();
    machine.reset();
  } else {
    FUZZ_CHECK(!error.empty());
  }
  std::remove(path.c_str());
  std::remove((path + ".lock").c_str());
  return 0;
}
