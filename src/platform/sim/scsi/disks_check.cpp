#include "platform/sim/scsi/disks_check.h"

#include <algorithm>
#include <set>

#include "platform/sim/machine_file/section_check.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kNexusForm = "four numbers 0 to 255, \"port.bus.target.lun\"";

bool IsHex(char c, bool upperOnly) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (!upperOnly && c >= 'a' && c <= 'f');
}

// "2A/04": the additional sense code and its qualifier.
bool SenseCodeText(const Json& v) {
  if (!v.is_string()) return false;
  const std::string& t = v.get_ref<const std::string&>();
  return t.size() == 5 && IsHex(t[0], true) && IsHex(t[1], true) && t[2] == '/' &&
         IsHex(t[3], true) && IsHex(t[4], true);
}

bool Fail(const std::string& message, std::string* error) {
  *error = message;
  return false;
}

bool CheckInquiry(const Json& inquiry, const DocPlace& at, std::string* error) {
  if (!inquiry.is_object()) return Fail(at.Error("expected an object"), error);
  if (!CheckKnownKeys(inquiry, at, {"pageCode", "pageLength"}, error)) return false;
  for (const char* name : {"pageCode", "pageLength"}) {
    auto v = inquiry.find(name);
    if (v != inquiry.end() && !(v->is_number_unsigned() && v->get<uint64_t>() <= 255)) {
      return Fail(at.KeyError(name, "\"" + std::string(name) + "\" must be a number from 0 to 255"),
                  error);
    }
  }
  return true;
}

bool CheckRegistration(const Json& r, const DocPlace& at, std::set<std::string>* nexuses,
                       std::string* error) {
  if (!r.is_object()) return Fail(at.Error("expected an object"), error);
  if (!CheckKnownKeys(r, at, {"nexus", "key"}, error)) return false;
  if (!r.contains("nexus") || !r.contains("key")) {
    return Fail(at.Error("needs a \"nexus\" and a \"key\""), error);
  }
  const Json& nexus = r["nexus"];
  if (!nexus.is_string() || !WellFormedNexus(nexus.get<std::string>())) {
    return Fail(at.KeyError("nexus", "\"nexus\" must be " + std::string(kNexusForm)), error);
  }
  const Json& key = r["key"];
  const std::string digits = key.is_string() ? key.get<std::string>() : std::string();
  if (digits.size() != 16 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return IsHex(c, false); })) {
    return Fail(at.KeyError("key", "\"key\" must be 16 hexadecimal digits"), error);
  }
  if (digits.find_first_not_of('0') == std::string::npos) {
    return Fail(at.KeyError("key", "no registration has key 0 (registering 0 removes one)"), error);
  }
  if (!nexuses->insert(nexus.get<std::string>()).second) {
    return Fail(at.KeyError("nexus", "nexus " + nexus.get<std::string>() + " is registered twice"),
                error);
  }
  return true;
}

bool CheckReservation(const Json& r, const DocPlace& at, const std::set<std::string>& nexuses,
                      std::string* error) {
  if (!r.is_object()) return Fail(at.Error("expected an object"), error);
  if (!CheckKnownKeys(r, at, {"holder", "type"}, error)) return false;
  if (!r.contains("holder") || !r.contains("type")) {
    return Fail(at.Error("needs a \"holder\" and a \"type\""), error);
  }
  const Json& holder = r["holder"];
  if (!holder.is_string() || !WellFormedNexus(holder.get<std::string>())) {
    return Fail(at.KeyError("holder", "\"holder\" must be " + std::string(kNexusForm)), error);
  }
  if (nexuses.count(holder.get<std::string>()) == 0) {
    return Fail(at.KeyError("holder", "holder " + holder.get<std::string>() + " is not registered"),
                error);
  }
  const Json& type = r["type"];
  const uint64_t kTypes[] = {1, 3, 5, 6, 7, 8};
  if (!type.is_number_unsigned() ||
      std::find(std::begin(kTypes), std::end(kTypes), type.get<uint64_t>()) == std::end(kTypes)) {
    return Fail(at.KeyError("type", "\"type\" must be 1, 3, 5, 6, 7 or 8"), error);
  }
  return true;
}

bool CheckUnitAttentions(const Json& pending, const DocPlace& at, std::string* error) {
  if (!pending.is_object()) return Fail(at.Error("expected an object keyed by nexus"), error);
  for (const auto& [nexus, list] : pending.items()) {
    if (!WellFormedNexus(nexus)) {
      return Fail(at.KeyError(nexus, "\"" + nexus + "\" is not " + kNexusForm), error);
    }
    if (!list.is_array() || list.empty()) {
      return Fail(at.KeyError(nexus, "expected a non-empty list of \"ASC/ASCQ\" texts"), error);
    }
    for (size_t i = 0; i < list.size(); ++i) {
      if (!SenseCodeText(list[i])) {
        return Fail(at.Key(nexus).Index(i).Error(
                        list[i].dump() + " is not two upper-case hexadecimal digits, '/' and two "
                                         "more (\"2A/04\")"),
                    error);
      }
    }
  }
  return true;
}

bool CheckReservations(const Json& pr, const DocPlace& at, std::string* error) {
  if (!pr.is_object()) return Fail(at.Error("expected an object"), error);
  if (!CheckKnownKeys(pr, at, {"generation", "registrations", "reservation", "unitAttentions"},
                      error)) {
    return false;
  }
  if (auto g = pr.find("generation");
      g != pr.end() && !(g->is_number_unsigned() && g->get<uint64_t>() <= 0xFFFFFFFFu)) {
    return Fail(at.KeyError("generation", "\"generation\" must be a number from 0 to 4294967295"),
                error);
  }
  std::set<std::string> nexuses;
  if (auto list = pr.find("registrations"); list != pr.end()) {
    if (!list->is_array()) {
      return Fail(at.KeyError("registrations", "\"registrations\" must be a list"), error);
    }
    for (size_t i = 0; i < list->size(); ++i) {
      if (!CheckRegistration((*list)[i], at.Key("registrations").Index(i), &nexuses, error)) {
        return false;
      }
    }
  }
  if (auto r = pr.find("reservation");
      r != pr.end() && !CheckReservation(*r, at.Key("reservation"), nexuses, error)) {
    return false;
  }
  auto pending = pr.find("unitAttentions");
  return pending == pr.end() || CheckUnitAttentions(*pending, at.Key("unitAttentions"), error);
}

bool CheckEntry(const Json& entry, const DocPlace& at, std::string* error) {
  if (!entry.is_object()) return Fail(at.Error("expected an object"), error);
  if (!CheckKnownKeys(entry, at, {"inquiry", "reportsFullTransfer", "reservations"}, error)) {
    return false;
  }
  if (auto full = entry.find("reportsFullTransfer"); full != entry.end() && !full->is_boolean()) {
    return Fail(at.KeyError("reportsFullTransfer", "\"reportsFullTransfer\" must be true or false"),
                error);
  }
  if (auto inquiry = entry.find("inquiry");
      inquiry != entry.end() && !CheckInquiry(*inquiry, at.Key("inquiry"), error)) {
    return false;
  }
  auto pr = entry.find("reservations");
  return pr == entry.end() || CheckReservations(*pr, at.Key("reservations"), error);
}

// The serial numbers the "san" section gives its LUNs (it is read first,
// so they are well formed).
std::set<std::string> LunSerials(const Json& document) {
  std::set<std::string> serials;
  auto san = document.find("san");
  if (san == document.end() || !san->is_object()) return serials;
  auto luns = san->find("luns");
  if (luns == san->end() || !luns->is_array()) return serials;
  for (const Json& lun : *luns) {
    auto serial = lun.is_object() ? lun.find("serial") : lun.end();
    if (serial != lun.end() && serial->is_string()) serials.insert(serial->get<std::string>());
  }
  return serials;
}

}  // namespace

bool WellFormedNexus(std::string_view nexus) {
  int numbers = 0;
  size_t at = 0;
  while (numbers < 4) {
    size_t end = at;
    while (end < nexus.size() && nexus[end] >= '0' && nexus[end] <= '9') ++end;
    const std::string_view digits = nexus.substr(at, end - at);
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0') ||
        std::stoi(std::string(digits)) > 255) {
      return false;
    }
    ++numbers;
    if (numbers < 4 && (end >= nexus.size() || nexus[end] != '.')) return false;
    at = end + 1;
    if (numbers == 4) return end == nexus.size();
  }
  return false;
}

bool CheckDisksStrictly(const Json& document, std::string* error) {
  auto section = document.find("disks");
  if (section == document.end()) return true;
  const DocPlace disks("disks");
  if (!section->is_object())
    return Fail(disks.Error("expected an object keyed by serial number"), error);
  const std::set<std::string> serials = LunSerials(document);
  for (const auto& [serial, entry] : section->items()) {
    if (serials.count(serial) == 0) {
      return Fail(disks.KeyError(serial, "no LUN of the san section has serial \"" + serial + "\""),
                  error);
    }
    if (!CheckEntry(entry, disks.Key(serial), error)) return false;
  }
  return true;
}

}  // namespace platform::sim
