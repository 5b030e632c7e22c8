#include <algorithm>
#include <cstdlib>

#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/setup/inf_reader.h"
#include "platform/sim/setup/setup_world.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// Windows' English texts for the errors the installer meets most.
struct BuiltInMessage {
  uint32_t id;
  const char* text;
};
constexpr BuiltInMessage kMessages[] = {
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {8, "Not enough storage is available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {50, "The request is not supported.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {259, "No more data is available.\r\n"},
};

bool ReadVersion(const Json& value, const DocPlace& place, SystemConfig* config,
                 std::string* error) {
  if (value.is_null()) {
    config->version.reset();
    return true;
  }
  if (!CheckKnownKeys(value, place, {"major", "minor", "build"}, error)) return false;
  OsVersionInfo version{0, 0, 0};
  uint32_t* slots[] = {&version.major, &version.minor, &version.build};
  const char* names[] = {"major", "minor", "build"};
  bool good = value.is_object() && value.contains("major") && value.contains("minor");
  for (int i = 0; good && i < 3; ++i) {
    if (!value.contains(names[i])) continue;
    const Json& n = value[names[i]];
    good = n.is_number_unsigned() && n.get<uint64_t>() <= 0xFFFFFFFFu;
    if (good) *slots[i] = static_cast<uint32_t>(n.get<uint64_t>());
  }
  if (!good) {
    *error =
        place.Error("expected {\"major\": N, \"minor\": N} with an optional \"build\", or null");
    return false;
  }
  config->version = version;
  return true;
}

bool ReadEnvironment(const Json& value, const DocPlace& place, SystemConfig* config,
                     std::string* error) {
  if (!value.is_object()) {
    *error = place.Error("expected an object of texts");
    return false;
  }
  config->environment.clear();
  for (const auto& [name, text] : value.items()) {
    if (!text.is_string()) {
      *error = place.KeyError(name, "\"" + name + "\" must be text");
      return false;
    }
    config->environment.emplace_back(name, text.get<std::string>());
  }
  return true;
}

bool ReadMessages(const Json& value, const DocPlace& place, SystemConfig* config,
                  std::string* error) {
  if (!value.is_object()) {
    *error = place.Error("expected an object of message ids and texts");
    return false;
  }
  for (const auto& [key, text] : value.items()) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(key.c_str(), &end, 0);
    if (key.empty() || *end != '\0' || id > 0xFFFF || (!text.is_string() && !text.is_null())) {
      *error = place.KeyError(key, "a message id from 0 to 0xFFFF with a text, or null for none");
      return false;
    }
    config->messages[static_cast<uint32_t>(id)] =
        text.is_null() ? std::nullopt : std::optional<std::string>(text.get<std::string>());
  }
  return true;
}

bool ReadWindowsDirectory(const Json& value, const DocPlace& place, SystemConfig* config,
                          std::string* error) {
  const std::string text = value.is_string() ? NormalPath(value.get<std::string>()) : "";
  if (text.size() < 3 || text[1] != ':' || text[2] != '\\') {
    *error = place.Error("expected a path with a drive, as C:\\Windows");
    return false;
  }
  config->windowsDirectory = text;
  return true;
}

class SimSystem : public System {
 public:
  explicit SimSystem(SetupWorld& world) : world_(world) {}

  Win32Error Version(OsVersionInfo* version) override {
    if (Win32Error e = world_.Fault("GetVersionExA")) return e;
    if (!world_.config.version) return win32_error::kNotSupported;
    *version = *world_.config.version;
    return 0;
  }
  bool MessageText(uint32_t id, std::string* text) override {
    const auto found = SystemMessage(world_.config, id);
    if (found) *text = *found;
    return found.has_value();
  }
  bool Environment(const std::string& name, std::string* value) override {
    for (const auto& [n, v] : world_.config.environment) {
      if (InfSameText(n, name)) {
        *value = v;
        return true;
      }
    }
    return false;
  }
  Win32Error Probe(const std::string& path) override {
    if (Win32Error e = world_.Fault("FindFirstFileA", path)) return e;
    // An empty name is no path at all; it is not the current directory.
    if (path.empty()) return win32_error::kPathNotFound;
    // A trailing separator asks for the entries of a folder with an empty
    // name pattern: nothing matches.
    if (path.back() == '\\' || path.back() == '/') return win32_error::kFileNotFound;
    return world_.files.Probe(world_.Resolve(path));
  }
  Win32Error ListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries) override {
    if (Win32Error e = world_.Fault("FindFirstFileA", directory + "\\*")) return e;
    return world_.files.List(world_.Resolve(directory), entries);
  }
  Win32Error ReadContent(const std::string& path, std::string* content) override {
    return world_.files.Read(world_.Resolve(path), content);
  }
  Win32Error RemoveFile(const std::string& path) override {
    if (Win32Error e = world_.Fault("DeleteFileA", path)) return e;
    const Win32Error e = world_.files.Remove(world_.Resolve(path));
    if (e == 0) world_.files.Save(world_.state);
    return e;
  }
  Win32Error WindowsDirectory(std::string* path) override {
    *path = world_.config.windowsDirectory;
    return 0;
  }
  Win32Error SystemDirectory(std::string* path) override {
    *path = world_.SystemDirectory();
    return 0;
  }
  Win32Error ChangeDirectory(const std::string& path) override {
    if (Win32Error e = world_.Fault("SetCurrentDirectoryA", path)) return e;
    const std::string full = world_.Resolve(path);
    if (!world_.files.IsDirectory(full)) return world_.files.Probe(full) == 0 ? 267 : 2;
    world_.currentDirectory = NormalPath(full);
    return 0;
  }

 private:
  SetupWorld& world_;
};

}  // namespace

bool LoadSystemConfig(const Json& section, SystemConfig* config, std::string* error) {
  *config = SystemConfig();
  if (section.is_null()) return true;
  const DocPlace place("system");
  if (!section.is_object()) {
    *error = place.Error("expected an object");
    return false;
  }
  if (!CheckKnownKeys(
          section, place,
          {"version", "windows_directory", "environment", "messages", "reboot_after_driver_update"},
          error)) {
    return false;
  }
  if (section.contains("reboot_after_driver_update")) {
    const Json& flag = section["reboot_after_driver_update"];
    if (!flag.is_boolean()) {
      *error = place.KeyError("reboot_after_driver_update", "expected true or false");
      return false;
    }
    config->rebootAfterDriverUpdate = flag.get<bool>();
  }
  return (!section.contains("version") ||
          ReadVersion(section["version"], place.Key("version"), config, error)) &&
         (!section.contains("windows_directory") ||
          ReadWindowsDirectory(section["windows_directory"], place.Key("windows_directory"), config,
                               error)) &&
         (!section.contains("environment") ||
          ReadEnvironment(section["environment"], place.Key("environment"), config, error)) &&
         (!section.contains("messages") ||
          ReadMessages(section["messages"], place.Key("messages"), config, error));
}

std::optional<std::string> SystemMessage(const SystemConfig& config, uint32_t id) {
  const auto own = config.messages.find(id);
  if (own != config.messages.end()) return own->second;
  for (const BuiltInMessage& m : kMessages) {
    if (m.id == id) return std::string(m.text);
  }
  return std::nullopt;
}

std::unique_ptr<System> MakeSimSystem(SetupWorld& world) {
  return std::make_unique<SimSystem>(world);
}

std::unique_ptr<SimSetup> MakeSimSetup(MachineState& state, Registry& registry,
                                       std::shared_ptr<Faults> faults, std::string* error) {
  auto parts = std::make_unique<SimSetup>();
  parts->world = std::make_unique<SetupWorld>(state, std::move(faults), registry);
  SetupWorld& world = *parts->world;
  const Json& document = state.Document();
  auto section = [&](const char* name) {
    return document.contains(name) ? document[name] : Json();
  };
  const std::string& file = state.Path();
  const size_t slash = file.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
  if (!LoadSystemConfig(section("system"), &world.config, error) ||
      !world.files.Load(section("files"), folder, {world.InfDirectory(), world.DriversDirectory()},
                        error) ||
      !world.devices.Load(section("devices"), error)) {
    return nullptr;
  }
  parts->system = MakeSimSystem(world);
  parts->setup = MakeSimDeviceSetup(world);
  return parts;
}

}  // namespace platform::sim
