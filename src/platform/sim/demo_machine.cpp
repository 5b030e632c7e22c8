#include "platform/sim/demo_machine.h"

#include <cstdint>
#include <string>

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

struct DemoLun {
  const char* serial;
  const char* policy;
  bool failBack;
  int primary;   // path index made primary, -1 for none
  int standby;   // path index in standby, -1 for none
  uint32_t weights[4];
};

// Six LUNs of one array, one per policy the DSM can set, plus a second
// fail-over LUN with fail-back off and a path in standby.
constexpr DemoLun kLuns[] = {
    {"6A0B1C20-01", "RoundRobin", false, -1, -1, {0, 0, 0, 0}},
    {"6A0B1C20-02", "FailOver", true, 0, -1, {0, 0, 0, 0}},
    {"6A0B1C20-03", "LeastBlocks", false, -1, -1, {0, 0, 0, 0}},
    {"6A0B1C20-04", "Weighted", false, -1, -1, {10, 10, 40, 40}},
    {"6A0B1C20-05", "RoundRobinSubset", false, 1, -1, {0, 0, 0, 0}},
    {"6A0B1C20-06", "FailOver", false, 2, 3, {0, 0, 0, 0}},
};

const char* kAdapterWwpns[] = {"2100001B32814A10", "2101001B32A14A10"};
const char* kControllerWwpns[] = {"50060E8007C3E100", "50060E8007C3E110"};

std::string PathId(int port, int target, int lun) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string id = "0x77";
  for (int byte : {port, target, lun}) {
    id += kDigits[(byte >> 4) & 15];
    id += kDigits[byte & 15];
  }
  return id;
}

/// Counters that look like a few hours of mixed I/O, different per path.
Json Counters(uint64_t lun, uint64_t path, bool busy) {
  const uint64_t seed = (lun + 1) * 7919 + path * 104729;
  const uint64_t reads = busy ? 180000 + seed % 50000 : seed % 40;
  const uint64_t writes = busy ? 95000 + seed % 30000 : seed % 25;
  return Json{{"bytesRead", reads * 65536 + seed % 4096 * 512},
              {"bytesWritten", writes * 32768 + seed % 2048 * 512},
              {"reads", reads},
              {"writes", writes},
              {"pending", busy ? seed % 9 : 0}};
}

/// MPIO's name for the disk: vendor, product, revision, then the LUN's
/// two-digit number in hexadecimal ASCII ("00" is 3030).
std::string InstanceName(int index) {
  const std::string number = std::to_string(index / 10) + std::to_string(index % 10);
  std::string name = "MPIO\\Disk&Ven_ORRIN&Prod_VDISK&Rev_0100\\1&7f6ac24&0&";
  for (char c : number) name += "3" + std::string(1, c);
  return name + "_0";
}

Json Lun(const DemoLun& d, int index) {
  Json paths = Json::array();
  int number = 0;
  for (int adapter = 0; adapter < 2; ++adapter) {
    for (int controller = 0; controller < 2; ++controller, ++number) {
      const int lunNumber = index + 1;
      Json path = {{"id", PathId(adapter + 2, controller, lunNumber)},
                   {"adapter", adapter},
                   {"controller", controller},
                   {"target", controller},
                   {"lun", lunNumber}};
      if (number == d.standby) path["state"] = "Standby";
      if (d.weights[number] != 0) path["weight"] = d.weights[number];
      if (number == d.primary) path["primary"] = true;
      // A fail-over LUN moves its I/O on the primary path only.
      const bool failOver = std::string(d.policy) == "FailOver";
      const bool busy = number != d.standby && (!failOver || number == d.primary);
      path["counters"] = Counters(static_cast<uint64_t>(index), static_cast<uint64_t>(number), busy);
      paths.push_back(std::move(path));
    }
  }
  return Json{{"serial", d.serial},
              {"instance", InstanceName(index)},
              {"policy", d.policy},
              {"failback", d.failBack},
              {"lun", index + 1},
              {"disk", index + 1},
              {"paths", std::move(paths)}};
}

}  // namespace

Json DemoMachine() {
  Json adapters = Json::array();
  for (int i = 0; i < 2; ++i) {
    adapters.push_back(Json{{"port", i + 2},
                            {"wwpn", kAdapterWwpns[i]},
                            {"name", "Orrin FC8 Fibre Channel Adapter"},
                            {"pciBus", 4},
                            {"pciDevice", 0},
                            {"pciFunction", i},
                            // Storport behind MPIO: pass-through goes through the disks.
                            {"claimsUnits", true}});
  }
  Json controllers = Json::array();
  for (const char* wwpn : kControllerWwpns) controllers.push_back(Json{{"wwpn", wwpn}});
  Json luns = Json::array();
  int index = 0;
  for (const DemoLun& d : kLuns) luns.push_back(Lun(d, index++));
  // The DSM's parameters as its installation leaves them, reservations off.
  Json parameters = {
      {"DsmUsePersistentReservation", {{"type", "REG_DWORD"}, {"value", 0}}},
      {"DsmPersistentReservationKey", {{"type", "REG_BINARY"}, {"value", "4F5252494E303031"}}},
      {"DsmRetryCount", {{"type", "REG_DWORD"}, {"value", 3}}},
      {"DsmRetryInterval", {{"type", "REG_DWORD"}, {"value", 1}}}};
  return Json{{"registry",
               {{"HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters",
                 std::move(parameters)}}},
              {"san",
               {{"vendor", "ORRIN"},
                {"product", "VDISK"},
                {"revision", "0100"},
                {"adapters", std::move(adapters)},
                {"controllers", std::move(controllers)},
                {"luns", std::move(luns)}}}};
}

}  // namespace platform::sim
