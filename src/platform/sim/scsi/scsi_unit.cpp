#include "platform/sim/scsi/scsi_unit.h"

#include <algorithm>

namespace platform::sim {
namespace {

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kInvalidOpcode = 0x20;
constexpr uint8_t kInvalidFieldInCdb = 0x24;
constexpr uint8_t kParameterListLength = 0x1A;
constexpr uint8_t kInvalidRelease = 0x26;  // with qualifier 4

ScsiOutcome Check(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
  ScsiOutcome out;
  out.status = kScsiCheckCondition;
  out.sense = FixedSense(key, asc, ascq);
  return out;
}

ScsiOutcome Conflict() {
  ScsiOutcome out;
  out.status = kScsiReservationConflict;
  return out;
}

ScsiOutcome DataIn(std::vector<uint8_t> data, size_t allocation) {
  ScsiOutcome out;
  if (data.size() > allocation) data.resize(allocation);
  out.dataIn = std::move(data);
  return out;
}

void PutBig(std::vector<uint8_t>& bytes, uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetBig(std::span<const uint8_t> bytes, size_t at, int width) {
  uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | bytes[at + static_cast<size_t>(i)];
  return value;
}

std::vector<uint8_t> StandardInquiry(const UnitIdentity& id) {
  // Direct-access device, SPC-3, response format 2, 36 bytes.
  std::vector<uint8_t> data = {0x00, 0x00, 0x05, 0x02, 31, 0x00, 0x00, 0x02};
  auto text = [&data](const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) {
      data.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : ' ');
    }
  };
  text(id.vendor, 8);
  text(id.product, 16);
  text(id.revision, 4);
  return data;
}

ScsiOutcome Inquiry(const UnitIdentity& id, std::span<const uint8_t> cdb) {
  const size_t allocation = GetBig(cdb, 3, 2);
  const bool vpd = (cdb[1] & 0x01) != 0;
  if (!vpd) {
    if (cdb[2] != 0) return Check(kIllegalRequest, kInvalidFieldInCdb);
    return DataIn(StandardInquiry(id), allocation);
  }
  switch (cdb[2]) {
    case 0x00:
      return DataIn({0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}, allocation);
    case 0x80:
      return DataIn(id.serialPage, allocation);
    case 0x83:
      return DataIn(id.identificationPage, allocation);
    default:
      return Check(kIllegalRequest, kInvalidFieldInCdb);
  }
}

// Every registered nexus but `except` gets the unit attention `code`.
void TellOtherRegistrants(PrState& pr, std::string_view except, uint16_t code) {
  for (const auto& r : pr.registrations) {
    if (r.nexus == except) continue;
    auto it = std::find_if(pr.unitAttentions.begin(), pr.unitAttentions.end(),
                           [&r](const PendingAttentions& p) { return p.nexus == r.nexus; });
    if (it == pr.unitAttentions.end()) {
      pr.unitAttentions.push_back({r.nexus, {}});
      it = pr.unitAttentions.end() - 1;
    }
    // The same condition twice in a row tells nothing new.
    if (it->codes.empty() || it->codes.back() != code) it->codes.push_back(code);
  }
}

// Types 5 to 8 (registrants only, all registrants): releasing such a
// reservation tells the other registrants.
bool RegistrantsType(uint8_t type) { return type >= 5 && type <= 8; }

const PrRegistration* FindRegistration(const PrState& pr, std::string_view nexus) {
  for (const auto& r : pr.registrations) {
    if (r.nexus == nexus) return &r;
  }
  return nullptr;
}

// Types 7 and 8 (all registrants): every registrant holds the reservation.
bool AllRegistrants(uint8_t type) { return type == 7 || type == 8; }

bool Holds(const PrState& pr, std::string_view nexus) {
  if (!pr.reservation) return false;
  if (AllRegistrants(pr.reservation->type)) return FindRegistration(pr, nexus) != nullptr;
  return pr.reservation->holder == nexus;
}

ScsiOutcome PrIn(const PrState& pr, std::span<const uint8_t> cdb) {
  const size_t allocation = GetBig(cdb, 7, 2);
  std::vector<uint8_t> data;
  PutBig(data, pr.generation, 4);
  switch (cdb[1] & 0x1F) {
    case 0x00:  // READ KEYS
      PutBig(data, pr.registrations.size() * 8, 4);
      for (const auto& r : pr.registrations) PutBig(data, r.key, 8);
      return DataIn(std::move(data), allocation);
    case 0x01: {  // READ RESERVATION
      if (!pr.reservation) {
        PutBig(data, 0, 4);
        return DataIn(std::move(data), allocation);
      }
      PutBig(data, 16, 4);
      const PrRegistration* holder = FindRegistration(pr, pr.reservation->holder);
      const bool showKey = !AllRegistrants(pr.reservation->type) && holder != nullptr;
      PutBig(data, showKey ? holder->key : 0, 8);
      PutBig(data, 0, 4);  // scope-specific address
      data.push_back(0);
      data.push_back(pr.reservation->type);  // scope 0 (logical unit) in the high nibble
      PutBig(data, 0, 2);
      return DataIn(std::move(data), allocation);
    }
    default:
      return Check(kIllegalRequest, kInvalidFieldInCdb);
  }
}

ScsiOutcome RegisterIgnoringKey(PrState& pr, std::string_view nexus, uint64_t serviceKey) {
  ScsiOutcome out;
  auto found = std::find_if(pr.registrations.begin(), pr.registrations.end(),
                            [nexus](const PrRegistration& r) { return r.nexus == nexus; });
  if (serviceKey == 0) {
    if (found == pr.registrations.end()) return out;  // nothing to remove
    const bool wasHolder = Holds(pr, nexus);
    pr.registrations.erase(found);
    // A holder that leaves releases, except while other registrants still
    // share an all-registrants reservation.
    if (wasHolder && (!AllRegistrants(pr.reservation->type) || pr.registrations.empty())) {
      if (RegistrantsType(pr.reservation->type)) {
        TellOtherRegistrants(pr, nexus, kReservationsReleased);
      }
      pr.reservation.reset();
    } else if (wasHolder && pr.reservation->holder == nexus) {
      // Every registrant holds an all-registrants reservation; the nexus kept
      // as its holder must be one that is still registered.
      pr.reservation->holder = pr.registrations.front().nexus;
    }
  } else if (found == pr.registrations.end()) {
    pr.registrations.push_back({std::string(nexus), serviceKey});
  } else {
    found->key = serviceKey;
  }
  ++pr.generation;
  out.changed = true;
  return out;
}

ScsiOutcome Reserve(PrState& pr, std::string_view nexus, uint8_t type) {
  if (type != 1 && type != 3 && type != 5 && type != 6 && type != 7 && type != 8) {
    return Check(kIllegalRequest, kInvalidFieldInCdb);
  }
  if (pr.reservation) {
    // The holder may reserve again with the same type; anything else conflicts.
    if (Holds(pr, nexus) && pr.reservation->type == type) return {};
    return Conflict();
  }
  pr.reservation = PrReservation{std::string(nexus), type};
  ScsiOutcome out;
  out.changed = true;
  return out;
}

ScsiOutcome Release(PrState& pr, std::string_view nexus, uint8_t type) {
  if (!Holds(pr, nexus)) return {};  // no reservation of ours: nothing to do
  if (pr.reservation->type != type) return Check(kIllegalRequest, kInvalidRelease, 0x04);
  if (RegistrantsType(type)) TellOtherRegistrants(pr, nexus, kReservationsReleased);
  pr.reservation.reset();
  ScsiOutcome out;
  out.changed = true;
  return out;
}

ScsiOutcome PrOut(PrState& pr, std::string_view nexus, std::span<const uint8_t> cdb,
                  std::span<const uint8_t> dataOut) {
  const uint8_t action = cdb[1] & 0x1F;
  // REGISTER, the preempting actions and REGISTER AND MOVE are not offered:
  // a service action the unit lacks is a bad CDB field, whoever sends it.
  if (action != 0x01 && action != 0x02 && action != 0x03 && action != 0x06) {
    return Check(kIllegalRequest, kInvalidFieldInCdb);
  }
  if (GetBig(cdb, 5, 4) != 24 || dataOut.size() < 24) {
    return Check(kIllegalRequest, kParameterListLength);
  }
  const uint64_t key = GetBig(dataOut, 0, 8);
  const uint64_t serviceKey = GetBig(dataOut, 8, 8);
  if (action == 0x06) return RegisterIgnoringKey(pr, nexus, serviceKey);
  // CLEAR ignores scope and type; RESERVE and RELEASE take LU scope only.
  if (action != 0x03 && (cdb[2] >> 4) != 0) return Check(kIllegalRequest, kInvalidFieldInCdb);
  const PrRegistration* own = FindRegistration(pr, nexus);
  if (own == nullptr || own->key != key) return Conflict();
  if (action == 0x01) return Reserve(pr, nexus, cdb[2] & 0x0F);
  if (action == 0x02) return Release(pr, nexus, cdb[2] & 0x0F);
  TellOtherRegistrants(pr, nexus, kReservationsPreempted);
  pr.registrations.clear();
  pr.reservation.reset();
  ++pr.generation;
  ScsiOutcome out;
  out.changed = true;
  return out;
}

// The oldest unit attention pending for `nexus`, taken off the list; 0
// when there is none.
uint16_t TakeAttention(PrState& pr, std::string_view nexus) {
  auto it = std::find_if(pr.unitAttentions.begin(), pr.unitAttentions.end(),
                         [nexus](const PendingAttentions& p) { return p.nexus == nexus; });
  if (it == pr.unitAttentions.end() || it->codes.empty()) return 0;
  const uint16_t code = it->codes.front();
  it->codes.erase(it->codes.begin());
  if (it->codes.empty()) pr.unitAttentions.erase(it);
  return code;
}

bool HasAttention(const PrState& pr, std::string_view nexus) {
  return std::any_of(pr.unitAttentions.begin(), pr.unitAttentions.end(),
                     [nexus](const PendingAttentions& p) { return p.nexus == nexus; });
}

// REQUEST SENSE: the pending unit attention as data (and cleared), else
// NO SENSE.
ScsiOutcome RequestSense(PrState& pr, std::string_view nexus, std::span<const uint8_t> cdb) {
  const uint16_t code = TakeAttention(pr, nexus);
  ScsiOutcome out = DataIn(code == 0 ? FixedSense(0, 0, 0)
                                     : FixedSense(kUnitAttention, static_cast<uint8_t>(code >> 8),
                                                  static_cast<uint8_t>(code)),
                           cdb[4]);
  out.changed = code != 0;
  return out;
}

}  // namespace

std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key & 0x0F;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

ScsiOutcome ExecuteScsi(const UnitIdentity& id, PrState& pr, std::string_view nexus,
                        std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut) {
  if (cdb.empty()) return Check(kIllegalRequest, kInvalidOpcode);
  const size_t needed = cdb[0] == 0x00 || cdb[0] == 0x03 || cdb[0] == 0x12 ? 6
                        : cdb[0] == 0xA0                                   ? 12
                                                                           : 10;
  if (cdb.size() < needed) return Check(kIllegalRequest, kInvalidOpcode);
  // INQUIRY and REPORT LUNS neither report nor clear a unit attention;
  // REQUEST SENSE returns it as data.
  if (cdb[0] != 0x12 && cdb[0] != 0xA0 && cdb[0] != 0x03 && HasAttention(pr, nexus)) {
    const uint16_t code = TakeAttention(pr, nexus);
    ScsiOutcome out =
        Check(kUnitAttention, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code));
    out.changed = true;
    return out;
  }
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
      return {};
    case 0x03:
      return RequestSense(pr, nexus, cdb);
    case 0x12:
      return Inquiry(id, cdb);
    case 0x5E:
      return PrIn(pr, cdb);
    case 0x5F:
      return PrOut(pr, nexus, cdb, dataOut);
    default:
      return Check(kIllegalRequest, kInvalidOpcode);
  }
}

}  // namespace platform::sim
