#include "platform/sim/scsi/disks_section.h"

#include <cstdio>

#include "platform/sim/scsi/disks_check.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

bool ReadByte(const Json& object, const char* name, std::optional<uint8_t>* out) {
  if (!object.contains(name)) return true;
  const Json& v = object[name];
  if (!v.is_number_unsigned() || v.get<uint64_t>() > 255) return false;
  *out = static_cast<uint8_t>(v.get<uint64_t>());
  return true;
}

// Keys are 16 hexadecimal digits, as sg_persist prints them.
bool ReadKey(const Json& v, uint64_t* key) {
  if (!v.is_string() || v.get<std::string>().size() != 16) return false;
  *key = 0;
  for (char c : v.get<std::string>()) {
    const int d = c >= '0' && c <= '9' ? c - '0'
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : -1;
    if (d < 0) return false;
    *key = (*key << 4) | static_cast<uint64_t>(d);
  }
  return true;
}

std::string KeyText(uint64_t key) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(key));
  return text;
}

bool ReadAttentions(const Json& section, PrState* pr) {
  if (!section.is_object()) return false;
  for (const auto& [nexus, list] : section.items()) {
    if (!list.is_array() || list.empty()) return false;
    PendingAttentions pending{nexus, {}};
    for (const auto& text : list) {
      if (!text.is_string()) return false;
      const std::optional<uint16_t> code = AttentionOfText(text.get<std::string>());
      if (!code) return false;
      pending.codes.push_back(*code);
    }
    pr->unitAttentions.push_back(std::move(pending));
  }
  return true;
}

bool ReadReservations(const Json& section, PrState* pr) {
  if (!section.is_object()) return false;
  if (section.contains("generation")) {
    if (!section["generation"].is_number_unsigned()) return false;
    pr->generation = static_cast<uint32_t>(section["generation"].get<uint64_t>());
  }
  if (section.contains("registrations")) {
    if (!section["registrations"].is_array()) return false;
    for (const auto& r : section["registrations"]) {
      PrRegistration registration;
      if (!r.is_object() || !r.contains("nexus") || !r["nexus"].is_string() ||
          !r.contains("key") || !ReadKey(r["key"], &registration.key)) {
        return false;
      }
      registration.nexus = r["nexus"].get<std::string>();
      pr->registrations.push_back(std::move(registration));
    }
  }
  if (section.contains("reservation")) {
    const Json& r = section["reservation"];
    std::optional<uint8_t> type;
    if (!r.is_object() || !r.contains("holder") || !r["holder"].is_string() ||
        !ReadByte(r, "type", &type) || !type) {
      return false;
    }
    pr->reservation = PrReservation{r["holder"].get<std::string>(), *type};
  }
  return !section.contains("unitAttentions") || ReadAttentions(section["unitAttentions"], pr);
}

Json WriteReservations(const PrState& pr) {
  Json section = {{"generation", pr.generation}, {"registrations", Json::array()}};
  for (const auto& r : pr.registrations) {
    section["registrations"].push_back({{"nexus", r.nexus}, {"key", KeyText(r.key)}});
  }
  if (pr.reservation) {
    section["reservation"] = {{"holder", pr.reservation->holder}, {"type", pr.reservation->type}};
  }
  if (!pr.unitAttentions.empty()) {
    Json attentions = Json::object();
    for (const auto& pending : pr.unitAttentions) {
      Json codes = Json::array();
      for (uint16_t code : pending.codes) codes.push_back(AttentionText(code));
      attentions[pending.nexus] = std::move(codes);
    }
    section["unitAttentions"] = std::move(attentions);
  }
  return section;
}

bool ReadEntry(const Json& entry, DiskSettings* settings) {
  if (!entry.is_object()) return false;
  if (entry.contains("reportsFullTransfer")) {
    if (!entry["reportsFullTransfer"].is_boolean()) return false;
    settings->reportsFullTransfer = entry["reportsFullTransfer"].get<bool>();
  }
  if (entry.contains("inquiry")) {
    const Json& inquiry = entry["inquiry"];
    if (!inquiry.is_object() || !ReadByte(inquiry, "pageCode", &settings->pageCode) ||
        !ReadByte(inquiry, "pageLength", &settings->pageLength)) {
      return false;
    }
  }
  return !entry.contains("reservations") ||
         ReadReservations(entry["reservations"], &settings->reservations);
}

}  // namespace

bool CheckDisksSection(const Json& document, std::string* error) {
  if (!CheckDisksStrictly(document, error)) return false;
  auto section = document.find("disks");
  if (section == document.end()) return true;
  if (!section->is_object()) {
    *error = "\"disks\" must be an object keyed by serial number";
    return false;
  }
  for (const auto& [serial, entry] : section->items()) {
    DiskSettings settings;
    if (!ReadEntry(entry, &settings)) {
      *error = "disks entry \"" + serial + "\" is malformed (see docs/disks.md)";
      return false;
    }
  }
  return true;
}

bool ReadDiskSettings(const Json& document, const std::string& serial, DiskSettings* settings,
                      std::string* error) {
  auto section = document.find("disks");
  if (section == document.end() || !section->is_object() || !section->contains(serial)) {
    return true;
  }
  if (ReadEntry((*section)[serial], settings)) return true;
  *error = "disks entry \"" + serial + "\" is malformed";
  return false;
}

void ApplyInquiryOverride(const DiskSettings& settings, std::vector<uint8_t>* page) {
  if (settings.pageCode) (*page)[1] = *settings.pageCode;
  if (settings.pageLength) {
    (*page)[3] = *settings.pageLength;
    page->resize(4u + *settings.pageLength, 0);
  }
}

void StoreReservations(Json& document, const std::string& serial, const PrState& pr) {
  if (!document.contains("disks") || !document["disks"].is_object()) {
    document["disks"] = Json::object();
  }
  Json& entry = document["disks"][serial];
  if (!entry.is_object()) entry = Json::object();
  entry["reservations"] = WriteReservations(pr);
}

std::string AttentionText(uint16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X/%02X", code >> 8, code & 0xFF);
  return text;
}

std::optional<uint16_t> AttentionOfText(const std::string& text) {
  auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  if (text.size() != 5 || text[2] != '/') return std::nullopt;
  uint16_t code = 0;
  for (size_t i : {0u, 1u, 3u, 4u}) {
    const int d = digit(text[i]);
    if (d < 0) return std::nullopt;
    code = static_cast<uint16_t>(code << 4 | d);
  }
  return code;
}

}  // namespace platform::sim
