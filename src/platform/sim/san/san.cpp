#include "platform/sim/san/san.h"

#include "platform/sim/san/san_derive.h"

namespace platform::sim {

bool InstallSan(MachineState& state, Namespace& rootWmi, std::string* error,
                std::shared_ptr<SanModel>* installed) {
  const nlohmann::ordered_json& document = state.Document();
  auto section = document.find("san");
  if (section == document.end()) return true;
  auto model = std::make_shared<SanModel>();
  if (!ParseSan(*section, model.get(), error)) return false;
  DefineSanClasses(rootWmi);
  InstallSanProviders(rootWmi, model);
  InstallDsmDriver(rootWmi, state, model);
  if (installed != nullptr) *installed = std::move(model);
  return true;
}

void InstallSanProviders(Namespace& ns, std::shared_ptr<SanModel> model) {
  san_derive::InstallDsmProviders(ns, model);
  san_derive::InstallListingProviders(ns, std::move(model));
}

std::array<uint8_t, 16> NaaIdentifier(const SanLun& lun) {
  // NAA 6: the array maker's company id, then "ORRIN" and the serial.
  std::array<uint8_t, 16> naa = {0x60, 0x0A, 0x0B, 0x80, 0x00, 0x4F, 0x52, 0x52,
                                 0x49, 0x4E, 0x00, 0,    0,    0,    0,    0};
  for (size_t i = 0; i < lun.serialBytes.size(); ++i) naa[11 + i] = lun.serialBytes[i];
  return naa;
}

std::vector<uint8_t> DeviceIdentificationPage(const SanLun& lun, uint16_t relativePort) {
  std::vector<uint8_t> page = {0x00, 0x83, 0x00, 0x38};
  page.insert(page.end(), {0x01, 0x03, 0x00, 0x10});  // binary, NAA, 16 bytes
  const auto naa = NaaIdentifier(lun);
  page.insert(page.end(), naa.begin(), naa.end());
  page.insert(page.end(), {0x02, 0x01, 0x00, 0x18});  // ASCII, T10 vendor id, 24 bytes
  for (size_t i = 0; i < 8; ++i) {
    page.push_back(i < lun.vendor.size() ? static_cast<uint8_t>(lun.vendor[i]) : ' ');
  }
  for (size_t i = 0; i < 16; ++i) {
    page.push_back(i < lun.product.size() ? static_cast<uint8_t>(lun.product[i]) : ' ');
  }
  page.insert(page.end(), {0x01, 0x14, 0x00, 0x04, 0x00, 0x00});  // relative target port
  page.push_back(static_cast<uint8_t>(relativePort >> 8));
  page.push_back(static_cast<uint8_t>(relativePort));
  return page;
}

std::vector<uint8_t> UnitSerialPage(const SanLun& lun) {
  std::vector<uint8_t> page = {0x00, 0x80, 0x00, 0x00};
  for (char c : lun.serial) {
    if (c != '-') page.push_back(static_cast<uint8_t>(c));
  }
  page[3] = static_cast<uint8_t>(page.size() - 4);
  return page;
}

}  // namespace platform::sim
