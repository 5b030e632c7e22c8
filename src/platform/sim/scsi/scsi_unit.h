// A simulated SCSI logical unit: INQUIRY (standard data and the vital
// product data pages 0x00, 0x80, 0x83), TEST UNIT READY and persistent
// reservations, answering as an SPC-3 device server does.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sim {

/// SCSI status bytes the unit returns.
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr uint8_t kScsiReservationConflict = 0x18;

/// One registered I_T nexus: the path's SCSI address ("port.bus.target.lun")
/// and its reservation key.
struct PrRegistration {
  std::string nexus;
  uint64_t key = 0;
};

/// The persistent reservation of a unit: held by one nexus, of one type
/// (scope is always the logical unit).
struct PrReservation {
  std::string holder;
  uint8_t type = 0;
};

/// Unit attentions waiting for one I_T nexus, oldest first, each as
/// additional sense code << 8 | qualifier.
struct PendingAttentions {
  std::string nexus;
  std::vector<uint16_t> codes;
};

/// RESERVATIONS PREEMPTED and RESERVATIONS RELEASED.
constexpr uint16_t kReservationsPreempted = 0x2A03;
constexpr uint16_t kReservationsReleased = 0x2A04;

/// The persistent-reservation state of one logical unit, with the unit
/// attentions its changes established.
struct PrState {
  uint32_t generation = 0;
  std::vector<PrRegistration> registrations;
  std::optional<PrReservation> reservation;
  std::vector<PendingAttentions> unitAttentions;  // in the order the nexuses first got one
};

/// What a unit answers with for INQUIRY.
struct UnitIdentity {
  std::string vendor, product, revision;
  std::vector<uint8_t> serialPage;          // VPD 0x80
  std::vector<uint8_t> identificationPage;  // VPD 0x83
};

/// The outcome of one command.
struct ScsiOutcome {
  uint8_t status = kScsiGood;
  std::vector<uint8_t> sense;   // fixed-format sense data with CHECK CONDITION
  std::vector<uint8_t> dataIn;  // data sent back, already cut to the allocation length
  bool changed = false;         // the command changed `pr`
};

/// Runs one command on a unit whose identity is `id` and reservation state
/// `pr`, received through `nexus`. `cdb` holds the CDB's bytes; `dataOut`
/// the data the initiator sends with it. Unknown commands end in CHECK
/// CONDITION, ILLEGAL REQUEST. A unit attention pending for `nexus` is
/// reported instead of running any command but INQUIRY, REPORT LUNS and
/// REQUEST SENSE (which returns it as its data), and is then cleared.
ScsiOutcome ExecuteScsi(const UnitIdentity& id, PrState& pr, std::string_view nexus,
                        std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut);

/// Fixed-format sense data (18 bytes) with a sense key and additional
/// sense code and qualifier.
std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq);

}  // namespace platform::sim
