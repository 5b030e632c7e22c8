// The simulated SAN in WMI: the DSM's and MPIO's classes in ROOT\WMI,
// derived from the machine file's "san" section, and the DSM driver's
// methods that change it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/wmi/repository.h"
#include "platform/sim/san/san_model.h"

namespace platform::sim {

/// Reads the "san" section of `state`'s document and makes the SAN appear
/// in `rootWmi`: defines the classes, installs instance providers that
/// derive every instance from the model's current state, and the method
/// handlers of the DSM driver, which change the model and record edits in
/// `state`. A document without a "san" section has no multipath stack:
/// nothing is defined. False with `error` set to one line on a malformed
/// section (nothing is installed then). When `installed` is given it
/// receives the model, for other parts of the machine (disks) to share.
bool InstallSan(MachineState& state, Namespace& rootWmi, std::string* error,
                std::shared_ptr<SanModel>* installed = nullptr);

/// Defines the DSM and MPIO classes (with their CIM types) in `ns`.
void DefineSanClasses(Namespace& ns);
/// Installs the instance providers of the classes, reading `model`.
void InstallSanProviders(Namespace& ns, std::shared_ptr<SanModel> model);
/// Installs the method handlers of ORNDSM_WMI_METHODS.
void InstallDsmDriver(Namespace& ns, MachineState& state, std::shared_ptr<SanModel> model);

/// The NAA type 6 identifier of a LUN; bytes 11 to 15 are its serial
/// number's bytes, as the DSM's serial number form expects.
std::array<uint8_t, 16> NaaIdentifier(const SanLun& lun);
/// The device-identification page (INQUIRY VPD 0x83) of a LUN as seen
/// through a controller port: an NAA 6 designator first, then the T10
/// vendor designator and the relative target port; page length 0x38.
std::vector<uint8_t> DeviceIdentificationPage(const SanLun& lun, uint16_t relativePort);
/// The unit serial number page (INQUIRY VPD 0x80) of a LUN.
std::vector<uint8_t> UnitSerialPage(const SanLun& lun);

}  // namespace platform::sim
