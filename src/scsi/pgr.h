// The pgr command: the DSM's persistent-reservation settings and the
// persistent-reservation commands sent straight to disks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/output.h"
#include "scsi/scsi_command.h"

namespace scsi {

/// The disk actions of pgr, in the order their keywords are tried.
enum class PgrAction { kEnable, kDisable, kList, kRegister, kUnregister, kClear, kReserve,
                       kRelease, kTur, kShow };

/// The first keyword that `word` is a case-insensitive prefix of (any
/// length, so "r" is register), or kShow.
PgrAction PgrActionOf(std::string_view word);

/// The 10-byte CDB of a PERSISTENT RESERVE OUT action (register to
/// release), padded to 16 bytes.
std::array<uint8_t, 16> ReserveOutCdb(PgrAction action);
/// The 24-byte parameter list of a PERSISTENT RESERVE OUT action for an
/// eight-character key.
std::array<uint8_t, 24> ReserveOutParameters(PgrAction action, std::string_view key);
/// The PERSISTENT RESERVE IN CDB for a service action (0 READ KEYS, 1 READ
/// RESERVATION) with a 4096-byte allocation length.
std::array<uint8_t, 16> ReserveInCdb(uint8_t serviceAction);

/// The length of a 4096-byte PERSISTENT RESERVE IN answer of which the
/// adapter reports `transferred` bytes: that count when it is below the
/// buffer's size, else 8 + the answer's ADDITIONAL LENGTH (bytes 4-7),
/// bounded by the buffer. 0: nothing to show.
uint32_t ReserveInAnswerLength(const uint8_t* answer, uint32_t transferred);

/// Writes `size` bytes as rows of 16 "%02X " fields and their characters
/// (0x21-0x7E as is, "." otherwise); a short last row is padded.
void HexDump(platform::Output& out, const uint8_t* bytes, size_t size);

/// Handler of pgr; words[0] is the command word. `pathOwner` names the LUN
/// behind an address whose adapter refuses the command (ScsiCommand).
/// Always returns 0.
int Pgr(platform::Output& out, int count, const char* const* words,
        const PathOwnerLookup& pathOwner);

}  // namespace scsi
