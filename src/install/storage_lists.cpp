#include "install/storage_lists.h"

#include <memory>

namespace install {
namespace {

struct ValueName {
  const char* key;
  const char* value;
};

constexpr ValueName kValues[] = {
    {"SYSTEM\\CurrentControlSet\\Control\\MPDEV", "MPIOSupportedDeviceList"},
    {"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}",
     "UpperFilters"},
    {"SYSTEM\\CurrentControlSet\\Services\\tevdsm\\Parameters", "SupportedDeviceList"},
    {"SYSTEM\\CurrentControlSet\\Services\\tevdsm", "ImagePath"},
};

// The fields of one delete-string line, when it is one.
struct DelStringLine {
  std::string root, key, value, text;
};

bool ReadDelStringLine(platform::InfFile& inf, const std::string& section, uint32_t index,
                       DelStringLine* line) {
  uint32_t count = 0;
  int32_t flags = 0;
  return inf.FieldCount(section, index, &count) == 0 && count == 5 &&
         inf.IntField(section, index, 4, &flags) == 0 && flags == kDelStringFlags &&
         inf.StringField(section, index, 1, &line->root) == 0 &&
         inf.StringField(section, index, 2, &line->key) == 0 &&
         inf.StringField(section, index, 3, &line->value) == 0 &&
         inf.StringField(section, index, 5, &line->text) == 0;
}

}  // namespace

Win32Error ReadStorageValue(Installer& in, int number, std::string* data) {
  if (number < 1 || number > 4) return platform::win32_error::kInvalidParameter;
  const ValueName& name = kValues[number - 1];
  std::unique_ptr<platform::RegistryKey> key;
  Win32Error e = in.reg.OpenKey(platform::RegistryRoot::kLocalMachine, name.key,
                                platform::RegistryAccess::kRead, &key);
  if (e != 0) return e;
  uint32_t type = 0, size = 0;
  if ((e = key->QueryValue(name.value, &type, nullptr, &size)) != 0) return e;
  data->assign(size, '\0');
  e = key->QueryValue(name.value, &type, data->data(), &size);
  data->resize(size);
  return e;
}

Win32Error WriteStorageList(Installer& in, int number, const std::string& data) {
  if (number != kFrameworkList && number != kAdapterFilters) {
    return platform::win32_error::kInvalidParameter;
  }
  const ValueName& name = kValues[number - 1];
  std::unique_ptr<platform::RegistryKey> key;
  // The seam opens keys for reading or for everything; writing needs the latter.
  Win32Error e = in.reg.OpenKey(platform::RegistryRoot::kLocalMachine, name.key,
                                platform::RegistryAccess::kAllAccess, &key);
  if (e != 0) return e;
  return key->SetValue(name.value, platform::reg::kMultiSz, data.data(),
                       static_cast<uint32_t>(data.size()));
}

std::vector<std::string> ListEntries(std::string_view data) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\0', start);
    if (end == std::string_view::npos) end = data.size();
    if (end == start) break;
    entries.emplace_back(data.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

std::string ListBytes(const std::vector<std::string>& entries) {
  std::string bytes;
  for (const std::string& e : entries) {
    bytes += e;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

void BlanksToUnderscores(std::vector<std::string>* entries) {
  for (std::string& entry : *entries) {
    for (char& c : entry) {
      if (c == ' ') c = '_';
    }
  }
}

std::string DeviceIdPattern(std::string_view entry) {
  return "SCSI\\Disk" + std::string(entry.substr(0, 24));
}

bool AnyEntryMatches(const std::vector<std::string>& entries,
                     const std::vector<std::string>& hardwareIds) {
  for (const std::string& entry : entries) {
    const std::string pattern = DeviceIdPattern(entry);
    for (const std::string& id : hardwareIds) {
      if (StartsWithText(id, pattern)) return true;
    }
  }
  return false;
}

Win32Error ReadDelRegSection(Installer& in, const std::string& infPath, std::string* section) {
  std::unique_ptr<platform::InfFile> inf;
  if (Win32Error e = in.setup.OpenInf(infPath, &inf)) return e;
  return inf->LineText("DefaultUninstall", "DelReg", section);
}

Win32Error ApplyDelRegStrings(Installer& in, const std::string& infPath, const std::string& section,
                              int number, std::string* list) {
  if (number != kFrameworkList && number != kAdapterFilters) {
    return platform::win32_error::kInvalidParameter;
  }
  std::unique_ptr<platform::InfFile> inf;
  if (Win32Error e = in.setup.OpenInf(infPath, &inf)) return e;
  const long count = inf->LineCount(section);
  std::vector<std::string> entries = ListEntries(*list);
  const ValueName& name = kValues[number - 1];
  bool changed = false;
  for (long index = 0; index < count; ++index) {
    DelStringLine line;
    if (!ReadDelStringLine(*inf, section, static_cast<uint32_t>(index), &line) ||
        !SameText(line.root, "HKLM") || !SameText(line.key, name.key) ||
        !SameText(line.value, name.value)) {
      continue;
    }
    if (number == kFrameworkList && !in.removed.Append(line.text)) {
      in.out.Write("Too many device ids to rebuild; left out: " + line.text + "\n");
    }
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (SameText(*it, line.text)) {
        entries.erase(it);
        changed = true;
        break;
      }
    }
  }
  if (changed) *list = ListBytes(entries);
  return 0;
}

}  // namespace install
