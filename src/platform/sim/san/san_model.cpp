#include "platform/sim/san/san_model.h"

#include <cctype>

namespace platform::sim {
namespace {

constexpr const char* kPolicyNames[] = {"FailOver", "RoundRobin",  "RoundRobinSubset", "Dynlqd",
                                        "Weighted", "LeastBlocks", "VendorSpecific"};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::wstring FoldInstance(std::wstring_view name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return folded;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Hex(uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 15];
  return text;
}

std::string LunContext(const SanLun& lun, size_t index) {
  return "san.luns[" + std::to_string(index) + "] (" + lun.serial + ")";
}

}  // namespace

SanLun* SanModel::FindBySerial(std::string_view serial) {
  auto it = bySerial_.find(std::string(serial));
  return it == bySerial_.end() ? nullptr : &luns[it->second];
}

SanLun* SanModel::FindByInstance(std::wstring_view instanceName) {
  auto it = byInstance_.find(FoldInstance(instanceName));
  return it == byInstance_.end() ? nullptr : &luns[it->second];
}

std::optional<SanPathRef> SanModel::FindPath(uint64_t id) const {
  auto it = byPathId_.find(id);
  if (it == byPathId_.end()) return std::nullopt;
  return it->second;
}

bool SanModel::Index(std::string* error) {
  size_t pathCount = 0;
  for (const SanLun& lun : luns) pathCount += lun.paths.size();
  bySerial_.clear();
  byInstance_.clear();
  byPathId_.clear();
  bySerial_.reserve(luns.size());
  byInstance_.reserve(luns.size());
  byPathId_.reserve(pathCount);
  std::unordered_map<uint32_t, SanPathRef> byAddress;
  byAddress.reserve(pathCount);
  for (size_t l = 0; l < luns.size(); ++l) {
    const SanLun& lun = luns[l];
    if (auto [it, added] = bySerial_.emplace(lun.serial, l); !added) {
      *error = LunContext(lun, l) + ": serial number also used by san.luns[" +
               std::to_string(it->second) + "]";
      return false;
    }
    if (auto [it, added] = byInstance_.emplace(FoldInstance(lun.instanceName), l); !added) {
      *error = LunContext(lun, l) + ": instance name also used by san.luns[" +
               std::to_string(it->second) + "]";
      return false;
    }
    for (size_t p = 0; p < lun.paths.size(); ++p) {
      const SanPath& path = lun.paths[p];
      auto where = [&] { return LunContext(lun, l) + ".paths[" + std::to_string(p) + "]"; };
      if (auto [it, added] = byPathId_.emplace(path.id, SanPathRef{l, p}); !added) {
        *error = where() + ": path id " + PathIdText(path.id) + " also used by san.luns[" +
                 std::to_string(it->second.lun) + "].paths[" + std::to_string(it->second.path) +
                 "]";
        return false;
      }
      const uint32_t address = static_cast<uint32_t>(adapters[path.adapter].port) << 24 |
                               static_cast<uint32_t>(path.bus) << 16 |
                               static_cast<uint32_t>(path.target) << 8 | path.lun;
      if (auto [it, added] = byAddress.emplace(address, SanPathRef{l, p}); !added) {
        *error = where() + ": SCSI address " + Hex(address, 8) + " also used by san.luns[" +
                 std::to_string(it->second.lun) + "].paths[" + std::to_string(it->second.path) +
                 "]";
        return false;
      }
    }
  }
  return true;
}

std::array<uint8_t, 26> PathIdentifier(const SanModel& model, const SanLun& lun,
                                       const SanPath& path) {
  std::array<uint8_t, 26> id{};
  id[0] = model.adapters[path.adapter].port;
  id[1] = path.bus;
  id[2] = path.target;
  id[3] = path.lun;
  const uint64_t hba = model.adapters[path.adapter].wwpn;
  const uint64_t ctrl = model.controllers[path.controller].wwpn;
  for (int i = 0; i < 8; ++i) {
    id[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(hba >> (56 - 8 * i));
    id[12 + static_cast<size_t>(i)] = static_cast<uint8_t>(ctrl >> (56 - 8 * i));
  }
  for (size_t i = 0; i < 5; ++i) id[20 + i] = lun.serialBytes[i];
  id[25] = path.state;
  return id;
}

std::optional<uint32_t> PolicyOfName(std::string_view word) {
  for (uint32_t i = 0; i < std::size(kPolicyNames); ++i) {
    if (EqualsNoCase(word, kPolicyNames[i])) return i + 1;
  }
  return std::nullopt;
}

std::optional<uint32_t> PathStateOfName(std::string_view word) {
  if (EqualsNoCase(word, "Online")) return 1;
  if (EqualsNoCase(word, "Failed")) return 5;
  if (EqualsNoCase(word, "Standby")) return 7;
  return std::nullopt;
}

std::string PolicyName(uint32_t policy) {
  if (policy < 1 || policy > std::size(kPolicyNames)) return {};
  return kPolicyNames[policy - 1];
}

std::string PathStateName(uint32_t state) {
  switch (state) {
    case 1: return "Online";
    case 5: return "Failed";
    case 7: return "Standby";
    default: return {};
  }
}

bool ParseSerial(std::string_view text, std::array<uint8_t, 5>* bytes) {
  if (text.size() != 11 || text[8] != '-') return false;
  std::array<uint8_t, 5> out{};
  size_t digit = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8) continue;
    const char c = text[i];
    const int v = HexDigit(c);
    if (v < 0 || (c >= 'a' && c <= 'f')) return false;  // the DSM writes upper case
    out[digit / 2] = static_cast<uint8_t>(out[digit / 2] << 4 | v);
    ++digit;
  }
  *bytes = out;
  return true;
}

std::optional<uint64_t> ParseWwpn(std::string_view text) {
  if (text.size() != 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int v = HexDigit(c);
    if (v < 0) return std::nullopt;
    value = value << 4 | static_cast<uint64_t>(v);
  }
  return value;
}

std::optional<uint64_t> ParsePathId(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int v = HexDigit(c);
    if (v < 0) return std::nullopt;
    value = value << 4 | static_cast<uint64_t>(v);
  }
  return value;
}

std::string WwpnText(uint64_t wwpn) { return Hex(wwpn, 16); }

std::string PathIdText(uint64_t id) {
  int digits = 8;
  while (digits < 16 && (id >> (4 * digits)) != 0) ++digits;
  return "0x" + Hex(id, digits);
}

std::wstring DefaultInstanceName(const SanLun& lun) {
  // MPIO names a disk by vendor, product and revision, then the serial
  // number's characters in hexadecimal; WMI appends the instance index.
  std::string name = "MPIO\\Disk&Ven_" + lun.vendor + "&Prod_" + lun.product + "&Rev_" +
                     lun.revision + "\\1&7f6ac24&0&";
  for (char c : lun.serial) {
    if (c != '-') name += Hex(static_cast<unsigned char>(c), 2);
  }
  name += "_0";
  return std::wstring(name.begin(), name.end());
}

}  // namespace platform::sim
