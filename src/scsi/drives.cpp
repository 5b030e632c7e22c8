#include "scsi/drives.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/machine.h"
#include "scsi/scsi_command.h"

namespace scsi {

namespace {

constexpr uint32_t kNameListSize = 0x20000;
// A machine with thousands of LUNs lists several names per disk; 16 MiB
// holds well over a hundred thousand of them, and bounds what a broken
// driver reporting "too small" forever can make the walk allocate.
constexpr uint32_t kMaxNameListSize = 0x1000000;
constexpr uint32_t kTargetSize = 260;

bool Has(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The kinds of device whose names the walk hands on, by their target path.
bool IsDriveTarget(std::string_view target) {
  return (Has(target, "Harddisk") && Has(target, "Partition0")) || Has(target, "CdRom") ||
         Has(target, "Tape") || (Has(target, "Harddisk") && Has(target, "\\DR")) ||
         Has(target, "Scanner") || Has(target, "Printer");
}

}  // namespace

platform::Win32Error ReadDeviceNames(platform::DeviceIo& devices, std::string* names) {
  for (uint32_t size = kNameListSize;; size *= 2) {
    const platform::Win32Error error = devices.QueryDosDevice("", size, names);
    if (error != platform::win32_error::kInsufficientBuffer || size >= kMaxNameListSize) {
      return error;
    }
  }
}

uint32_t ForEachPhysicalDrive(const std::function<void(const std::string& path)>& action) {
  platform::DeviceIo& devices = platform::CurrentMachine().Devices();
  std::string names;
  if (ReadDeviceNames(devices, &names) != platform::win32_error::kSuccess) {
    return 0;
  }
  std::string_view rest = names;
  while (!rest.empty() && rest.front() != '\0') {
    std::string name(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(std::min(rest.size(), name.size() + 1));
    // Every name is looked up, then only drives are kept: the lookups are the
    // calls a device fault counts.
    std::string targets;
    if (devices.QueryDosDevice(name, kTargetSize, &targets) != platform::win32_error::kSuccess ||
        !Has(name, "PhysicalDrive")) {
      continue;
    }
    // Only the first target counts, as the call's buffer is read as one text.
    if (!IsDriveTarget(std::string_view(targets.c_str()))) continue;
    std::string path = "\\\\.\\" + name;
    if (path.size() > kMaxDevicePath) continue;
    action(path);
  }
  return 0xFFFFFFFF;
}

std::string IdentifierOfPage(const std::array<uint8_t, 64>& page) {
  size_t start = 19;
  for (size_t d = 4;;) {
    if (d + 3 >= page.size()) return "";
    size_t len = page[d + 3];
    if (len == 16) {
      if (d + 4 >= page.size()) return "";
      if ((page[d + 4] >> 4) == 6) {
        start = d + 15;
        break;
      }
    }
    d += len + 4;
    if (d > 64) break;
  }
  if (page[3] != 0x38) start -= 3;
  if (start + 5 > page.size()) return "";
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X", page[start], page[start + 1],
                page[start + 2], page[start + 3], page[start + 4]);
  return text;
}

std::string QueryDriveIdentifier(const std::string& path, platform::Output& out) {
  ScsiCommand command(path);
  std::array<uint8_t, 64> page{};
  command.SetCdb({0x12, 0x01, 0x83, 0x00, 0x40, 0x00});
  command.SetDataIn(page.data(), page.size());
  if (!command.Execute(out) || page[1] != 0x83) return "";
  return IdentifierOfPage(page);
}

std::string FindDriveWithIdentifier(const std::string& identifier, platform::Output& out) {
  std::string found;
  if (identifier.empty()) return found;
  ForEachPhysicalDrive([&](const std::string& path) {
    if (found.empty() && QueryDriveIdentifier(path, out) == identifier) found = path;
  });
  return found;
}

uint32_t CollectDriveIdentities(std::vector<DriveIdentity>& list, platform::Output& out) {
  return ForEachPhysicalDrive([&](const std::string& path) {
    std::string identifier = QueryDriveIdentifier(path, out);
    if (identifier.empty()) return;
    size_t at = path.find("\\\\.\\PhysicalDrive");
    const char* digits = at == std::string::npos ? "" : path.c_str() + at + 17;
    long number = std::strtol(digits, nullptr, 10);
    // strtol saturates at the long's range; clamp to 32 bits on every OS.
    number = std::clamp<long>(number, INT32_MIN, INT32_MAX);
    list.push_back({identifier, static_cast<int32_t>(number)});
  });
}

}  // namespace scsi
