// The machine file's "disks" section: per LUN (by serial number) the
// persistent-reservation state of its logical unit and overrides of its
// INQUIRY answers. Described in docs/disks.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/scsi/scsi_unit.h"

namespace platform::sim {

/// What the section says about one LUN.
struct DiskSettings {
  std::optional<uint8_t> pageCode;    // byte 1 of the VPD 0x83 answer
  std::optional<uint8_t> pageLength;  // byte 3 of it; the page is cut or padded to match
  bool reportsFullTransfer = false;   // data-in transfers report the whole buffer as moved
  PrState reservations;
};

/// True when the section is absent or well formed; else false with `error`
/// set to one line naming the entry.
bool CheckDisksSection(const nlohmann::ordered_json& document, std::string* error);

/// Reads the settings of the LUN `serial` (defaults when it has none).
/// False with `error` set when its entry is malformed.
bool ReadDiskSettings(const nlohmann::ordered_json& document, const std::string& serial,
                      DiskSettings* settings, std::string* error);

/// Applies the INQUIRY overrides to a device-identification page.
void ApplyInquiryOverride(const DiskSettings& settings, std::vector<uint8_t>* page);

/// Stores `pr` as the reservation state of the LUN `serial` in `document`
/// (the "disks" section and the entry are made when missing).
void StoreReservations(nlohmann::ordered_json& document, const std::string& serial,
                       const PrState& pr);

/// "2A/04" for a unit attention code, and back (nothing for another text).
std::string AttentionText(uint16_t code);
std::optional<uint16_t> AttentionOfText(const std::string& text);

}  // namespace platform::sim
