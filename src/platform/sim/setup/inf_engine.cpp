#include "platform/sim/setup/inf_engine.h"

#include <algorithm>

namespace platform::sim {
namespace {

constexpr std::string_view kServices = "SYSTEM\\CurrentControlSet\\Services\\";

int32_t IntOf(const InfLine& line, size_t index, int32_t otherwise) {
  int32_t value = otherwise;
  if (index < line.fields.size() && !line.fields[index].empty()) {
    ParseInfInt(line.fields[index], &value);
  }
  return value;
}

std::string FieldOf(const InfLine& line, size_t index) {
  return index < line.fields.size() ? line.fields[index] : std::string();
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  return bytes;
}

}  // namespace

std::vector<std::string> SplitMultiSz(std::string_view data) {
  std::vector<std::string> strings;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\0', start);
    if (end == std::string_view::npos) end = data.size();
    if (end == start) break;
    strings.emplace_back(data.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

std::string JoinMultiSz(const std::vector<std::string>& strings) {
  std::string bytes;
  for (const std::string& s : strings) {
    bytes += s;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

Win32Error InfEngine::InstallSection(std::string_view section, uint32_t flags) {
  if (inf_.Find(section) == nullptr) return setup_error::kSectionNotFound;
  Win32Error e = 0;
  if ((flags & inf_flags::kSpinstFiles) != 0) {
    if ((e = ForEachListed(section, "CopyFiles", &InfEngine::CopyFiles)) != 0) return e;
    if ((e = ForEachListed(section, "DelFiles", &InfEngine::DelFiles)) != 0) return e;
  }
  if ((flags & inf_flags::kSpinstRegistry) != 0) {
    if ((e = ForEachListed(section, "DelReg", &InfEngine::DelReg)) != 0) return e;
    if ((e = ForEachListed(section, "AddReg", &InfEngine::AddReg)) != 0) return e;
  }
  return 0;
}

// Every section named by every `directive` line of `section`.
Win32Error InfEngine::ForEachListed(std::string_view section, std::string_view directive,
                                    Win32Error (InfEngine::*apply)(std::string_view)) {
  for (const InfLine& line : inf_.Find(section)->lines) {
    if (!line.hasKey || !InfSameText(line.key, directive)) continue;
    for (const std::string& name : line.fields) {
      if (name.empty()) continue;
      if (Win32Error e = (this->*apply)(name)) return e;
    }
  }
  return 0;
}

Win32Error InfEngine::Destination(std::string_view list, std::string* folder) const {
  const InfLine* line = inf_.FindLine("DestinationDirs", list);
  if (line == nullptr) line = inf_.FindLine("DestinationDirs", "DefaultDestDir");
  const int32_t id = line == nullptr ? 12 : IntOf(*line, 0, -1);
  switch (id) {
    case 10:
      *folder = world_.config.windowsDirectory;
      break;
    case 11:
      *folder = world_.SystemDirectory();
      break;
    case 12:
      *folder = world_.DriversDirectory();
      break;
    case 17:
      *folder = world_.InfDirectory();
      break;
    default:
      return win32_error::kInvalidParameter;
  }
  if (line != nullptr && !FieldOf(*line, 1).empty()) *folder += "\\" + FieldOf(*line, 1);
  return 0;
}

// A list is a section of file lines, or "@name" for one file.
Win32Error InfEngine::FileList(std::string_view list, bool copy) {
  std::string folder;
  if (Win32Error e = Destination(list[0] == '@' ? "DefaultDestDir" : list, &folder)) return e;
  std::vector<std::pair<std::string, std::string>> files;  // target, source
  if (list[0] == '@') {
    files.emplace_back(std::string(list.substr(1)), std::string(list.substr(1)));
  } else if (const InfSection* s = inf_.Find(list)) {
    for (const InfLine& line : s->lines) {
      const std::string target = line.hasKey ? line.key : FieldOf(line, 0);
      const std::string source = line.hasKey ? FieldOf(line, 0) : FieldOf(line, 1);
      if (!target.empty()) files.emplace_back(target, source.empty() ? target : source);
    }
  }
  for (const auto& [target, source] : files) {
    if (!copy) {
      if (world_.files.Remove(folder + "\\" + target) == 0) world_.files.Save(world_.state);
      continue;
    }
    std::string content;
    if (Win32Error e = world_.files.Read(folder_ + "\\" + source, &content)) return e;
    if (Win32Error e = world_.files.Write(folder + "\\" + target, content)) return e;
    world_.files.Save(world_.state);
  }
  return 0;
}

Win32Error InfEngine::CopyFiles(std::string_view list) { return FileList(list, true); }
Win32Error InfEngine::DelFiles(std::string_view list) { return FileList(list, false); }

Win32Error InfEngine::AddReg(std::string_view section) {
  const InfSection* s = inf_.Find(section);
  if (s == nullptr) return 0;
  for (const InfLine& line : s->lines) {
    if (Win32Error e = AddRegLine(line)) return e;
  }
  return 0;
}

Win32Error InfEngine::DelReg(std::string_view section) {
  const InfSection* s = inf_.Find(section);
  if (s == nullptr) return 0;
  for (const InfLine& line : s->lines) {
    if (Win32Error e = DelRegLine(line)) return e;
  }
  return 0;
}

bool InfEngine::ReadValue(const std::string& key, const std::string& name, uint32_t* type,
                          std::string* data) {
  std::unique_ptr<RegistryKey> open;
  if (world_.registry.OpenKey(RegistryRoot::kLocalMachine, key, RegistryAccess::kRead, &open) !=
      0) {
    return false;
  }
  uint32_t size = 0;
  if (open->QueryValue(name, type, nullptr, &size) != 0) return false;
  data->assign(size, '\0');
  return open->QueryValue(name, type, data->data(), &size) == 0;
}

Win32Error InfEngine::SetValue(const std::string& key, const std::string& name, uint32_t type,
                               const std::string& data) {
  if (world_.editor == nullptr) return win32_error::kNotSupported;
  world_.editor->CreateKey(key);
  std::unique_ptr<RegistryKey> open;
  Win32Error e =
      world_.registry.OpenKey(RegistryRoot::kLocalMachine, key, RegistryAccess::kAllAccess, &open);
  if (e != 0) return e;
  return open->SetValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
}

Win32Error InfEngine::AddRegLine(const InfLine& line) {
  if (!InfSameText(FieldOf(line, 0), "HKLM") || world_.editor == nullptr) return 0;
  const std::string key = FieldOf(line, 1), name = FieldOf(line, 2);
  const auto flags = static_cast<uint32_t>(IntOf(line, 3, 0));
  if ((flags & inf_flags::kAddRegKeyOnly) != 0) {
    world_.editor->CreateKey(key);
    return 0;
  }
  if ((flags & inf_flags::kAddRegDelVal) != 0) {
    world_.editor->DeleteValue(key, name);
    return 0;
  }
  uint32_t oldType = 0;
  std::string old;
  const bool exists = ReadValue(key, name, &oldType, &old);
  if ((flags & inf_flags::kAddRegNoClobber) != 0 && exists) return 0;
  std::vector<std::string> data(line.fields.begin() + std::min<size_t>(4, line.fields.size()),
                                line.fields.end());
  if ((flags & inf_flags::kAddRegMultiSz) != 0 && (flags & inf_flags::kAddRegBinary) == 0) {
    std::vector<std::string> strings;
    if ((flags & inf_flags::kAddRegAppend) != 0 && exists) strings = SplitMultiSz(old);
    for (const std::string& s : data) {
      const bool present = std::any_of(strings.begin(), strings.end(),
                                       [&](const std::string& t) { return InfSameText(s, t); });
      if (!s.empty() && !((flags & inf_flags::kAddRegAppend) != 0 && present)) strings.push_back(s);
    }
    return SetValue(key, name, reg::kMultiSz, JoinMultiSz(strings));
  }
  if ((flags & inf_flags::kAddRegMultiSz) != 0) {
    int32_t value = 0;
    if (!data.empty()) ParseInfInt(data[0], &value);
    return SetValue(key, name, reg::kDword, DwordBytes(static_cast<uint32_t>(value)));
  }
  const std::string text = (data.empty() ? std::string() : data[0]) + std::string(1, '\0');
  return SetValue(key, name, (flags & inf_flags::kAddRegExpandSz) != 0 ? reg::kExpandSz : reg::kSz,
                  text);
}

Win32Error InfEngine::DelRegLine(const InfLine& line) {
  if (!InfSameText(FieldOf(line, 0), "HKLM") || world_.editor == nullptr) return 0;
  const std::string key = FieldOf(line, 1);
  if (line.fields.size() < 3) {
    world_.editor->DeleteKey(key);
    return 0;
  }
  const std::string name = FieldOf(line, 2);
  const auto flags = static_cast<uint32_t>(IntOf(line, 3, 0));
  // Windows 2000's SetupAPI predates the delete-string flag and skips
  // such lines: the installer applies them itself there.
  const auto& version = world_.config.version;
  if (flags == inf_flags::kDelRegMultiSzDelString && version &&
      (version->major < 5 || (version->major == 5 && version->minor == 0))) {
    return 0;
  }
  if (flags != inf_flags::kDelRegMultiSzDelString) {
    world_.editor->DeleteValue(key, name);
    return 0;
  }
  uint32_t type = 0;
  std::string old;
  if (!ReadValue(key, name, &type, &old) || type != reg::kMultiSz) return 0;
  std::vector<std::string> strings = SplitMultiSz(old);
  std::erase_if(strings, [&](const std::string& s) { return InfSameText(s, FieldOf(line, 4)); });
  return SetValue(key, name, reg::kMultiSz, JoinMultiSz(strings));
}

Win32Error InfEngine::AddService(const InfLine& line, std::string* associated) {
  const std::string name = FieldOf(line, 0);
  const InfSection* install = inf_.Find(FieldOf(line, 2));
  if (name.empty() || install == nullptr) return setup_error::kSectionNotFound;
  const std::string key = std::string(kServices) + name;
  auto value = [&](std::string_view k) {
    const InfLine* l = inf_.FindLine(install->name, k);
    return l == nullptr ? std::string() : FieldOf(*l, 0);
  };
  std::string image = value("ServiceBinary");
  for (const auto& [id, path] : {std::pair{"%12%\\", "\\SystemRoot\\System32\\drivers\\"},
                                 std::pair{"%11%\\", "\\SystemRoot\\System32\\"}}) {
    if (image.size() > 5 && InfSameText(image.substr(0, 5), id)) image = path + image.substr(5);
  }
  Win32Error e = 0;
  auto dword = [&](const char* n, std::string_view k) {
    int32_t v = 0;
    ParseInfInt(value(k), &v);
    if (e == 0) e = SetValue(key, n, reg::kDword, DwordBytes(static_cast<uint32_t>(v)));
  };
  dword("Type", "ServiceType");
  dword("Start", "StartType");
  dword("ErrorControl", "ErrorControl");
  if (e == 0) e = SetValue(key, "ImagePath", reg::kExpandSz, image + std::string(1, '\0'));
  if (e == 0 && !value("DisplayName").empty()) {
    e = SetValue(key, "DisplayName", reg::kSz, value("DisplayName") + std::string(1, '\0'));
  }
  if (e == 0 && !value("LoadOrderGroup").empty()) {
    e = SetValue(key, "Group", reg::kSz, value("LoadOrderGroup") + std::string(1, '\0'));
  }
  if (e == 0 && associated != nullptr &&
      (static_cast<uint32_t>(IntOf(line, 1, 0)) & inf_flags::kSvcAssocService) != 0) {
    *associated = name;
  }
  return e;
}

Win32Error InfEngine::InstallServices(std::string_view section, std::string* associated) {
  const InfSection* s = inf_.Find(section);
  if (s == nullptr) return setup_error::kSectionNotFound;
  for (const InfLine& line : s->lines) {
    if (!line.hasKey) continue;
    if (InfSameText(line.key, "AddService")) {
      if (Win32Error e = AddService(line, associated)) return e;
    } else if (InfSameText(line.key, "DelService") && world_.editor != nullptr &&
               !FieldOf(line, 0).empty()) {
      world_.editor->DeleteKey(std::string(kServices) + FieldOf(line, 0));
    }
  }
  return 0;
}

}  // namespace platform::sim
