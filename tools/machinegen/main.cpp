// machinegen: writes a machine file with a SAN of any size to standard
// output, for benchmarks and for rehearsing on large configurations.
//
//   machinegen --luns N --paths M [--adapters A] [--ports C]
//
// The output depends only on the arguments.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUsage =
    "usage: machinegen --luns N --paths M [--adapters A] [--ports C]\n"
    "  N LUNs (0 to 65536), each with M paths (0 to 4096), spread round-robin\n"
    "  over A adapter ports (1 to 254, default 2) and C controller ports\n"
    "  (1 to 256, default 2). The machine file goes to standard output.\n";

struct Options {
  uint32_t luns = 0;
  uint32_t paths = 0;
  uint32_t adapters = 2;
  uint32_t ports = 2;
};

std::optional<uint32_t> Number(std::string_view text, uint32_t min, uint32_t max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

/// Reads the arguments; false with `error` set on a usage error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  bool haveLuns = false, havePaths = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string_view name = argv[i];
    struct Field {
      const char* name;
      uint32_t* out;
      uint32_t min, max;
      bool* seen;
    };
    bool ignored = false;
    const Field fields[] = {{"--luns", &options->luns, 0, 65536, &haveLuns},
                            {"--paths", &options->paths, 0, 4096, &havePaths},
                            {"--adapters", &options->adapters, 1, 254, &ignored},
                            {"--ports", &options->ports, 1, 256, &ignored}};
    const Field* field = nullptr;
    for (const Field& f : fields) {
      if (name == f.name) field = &f;
    }
    if (field == nullptr) {
      *error = "unknown argument '" + std::string(name) + "'";
      return false;
    }
    auto value = i + 1 < argc ? Number(argv[i + 1], field->min, field->max) : std::nullopt;
    if (!value) {
      *error = std::string(field->name) + " needs a number from " + std::to_string(field->min) +
               " to " + std::to_string(field->max);
      return false;
    }
    *field->out = *value;
    *field->seen = true;
  }
  if (!haveLuns || !havePaths) {
    *error = "--luns and --paths are required";
    return false;
  }
  return true;
}

std::string Hex(uint64_t value, int digits) {
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) {
    text[static_cast<size_t>(i)] = "0123456789ABCDEF"[value & 15];
  }
  return text;
}

/// Where path `p` of LUN `l` lies. Pairs of adapter and controller port
/// are used in turn; paths beyond the pairs go on further buses, LUNs
/// beyond 256 on further targets of each controller port.
struct Placement {
  uint32_t adapter, controller, bus, target, lun;
};

Placement Place(const Options& o, uint32_t l, uint32_t p) {
  const uint32_t pairs = o.adapters * o.ports;
  const uint32_t pair = p % pairs;
  const uint32_t controller = pair / o.adapters;
  return Placement{pair % o.adapters, controller, p / pairs, controller + o.ports * (l / 256),
                   l % 256};
}

/// A small deterministic generator for the counters.
uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return x;
}

Json MakePath(const Options& o, uint32_t l, uint32_t p, uint32_t policy) {
  const Placement at = Place(o, l, p);
  const uint64_t port = at.adapter + 2;
  const uint64_t id = static_cast<uint64_t>(at.bus) << 32 | 0x77000000u | port << 16 |
                      static_cast<uint64_t>(at.target) << 8 | at.lun;
  const uint64_t seed = Mix((uint64_t{l} << 20 | p) + 0x9E3779B97F4A7C15ULL);
  Json path = {{"id", "0x" + Hex(id, at.bus == 0 ? 8 : 10)},
               {"adapter", at.adapter},
               {"controller", at.controller},
               {"bus", at.bus},
               {"target", at.target},
               {"lun", at.lun}};
  if (policy == 5) path["weight"] = 10 + 10 * (p % 4);
  if (policy == 1 && p == 0) path["primary"] = true;
  const uint64_t reads = seed % 500000, writes = (seed >> 20) % 300000;
  path["counters"] = Json{{"bytesRead", reads * 8192},
                          {"bytesWritten", writes * 16384},
                          {"reads", reads},
                          {"writes", writes},
                          {"pending", (seed >> 40) % 8}};
  return path;
}

/// Checks that every path gets a SCSI address of its own.
bool Fits(const Options& o, std::string* error) {
  const uint64_t pairs = uint64_t{o.adapters} * o.ports;
  if (o.paths > 0 && (o.paths - 1) / pairs > 255) {
    *error = "too many paths for " + std::to_string(pairs) + " port pairs (buses run out)";
    return false;
  }
  if (o.luns > 0 && o.ports * ((o.luns - 1) / 256 + 1) > 256) {
    *error = "too many LUNs for " + std::to_string(o.ports) + " controller ports (targets run out)";
    return false;
  }
  return true;
}

Json Generate(const Options& o) {
  Json adapters = Json::array(), controllers = Json::array(), luns = Json::array();
  for (uint32_t a = 0; a < o.adapters; ++a) {
    adapters.push_back(Json{{"port", a + 2}, {"wwpn", Hex(0x2100001B32A10000ULL + a, 16)}});
  }
  for (uint32_t c = 0; c < o.ports; ++c) {
    controllers.push_back(Json{{"wwpn", Hex(0x50060E8007C30000ULL + c * 0x10ULL, 16)}});
  }
  static constexpr const char* kPolicies[] = {"FailOver", "RoundRobin", "RoundRobinSubset",
                                              "Dynlqd",   "Weighted",   "LeastBlocks"};
  for (uint32_t l = 0; l < o.luns; ++l) {
    const uint32_t policy = l % 6 + 1;
    Json paths = Json::array();
    for (uint32_t p = 0; p < o.paths; ++p) paths.push_back(MakePath(o, l, p, policy));
    luns.push_back(Json{{"serial", Hex(0x6A0B0000u + (l >> 8), 8) + "-" + Hex(l & 0xFF, 2)},
                        {"policy", kPolicies[policy - 1]},
                        {"failback", policy == 1 && l % 12 == 0},
                        {"lun", l % 256},
                        {"disk", l + 1},
                        {"paths", std::move(paths)}});
  }
  // The DSM's parameter key, as an installed DSM has it, so that pgr and
  // set find their settings.
  Json parameters = {{"DsmUsePersistentReservation", {{"type", "REG_DWORD"}, {"value", 0}}}};
  return Json{{"san",
               {{"adapters", std::move(adapters)},
                {"controllers", std::move(controllers)},
                {"luns", std::move(luns)}}},
              {"registry",
               {{"HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters",
                 std::move(parameters)}}}};
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error) || !Fits(options, &error)) {
    std::cerr << "machinegen: " << error << "\n" << kUsage;
    return 2;
  }
  std::cout << Generate(options).dump(2) << "\n";
  return std::cout.good() ? 0 : 1;
}
