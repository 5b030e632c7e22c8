#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/sim/setup/inf_engine.h"
#include "platform/sim/setup/inf_reader.h"
#include "platform/sim/setup/setup_world.h"

namespace platform::sim {
namespace {

constexpr Win32Error kWrongInfStyle = 0xE0000100;
constexpr Win32Error kInfInUse = 0xE000023D;

const char* PropertyName(DeviceProperty property) {
  switch (property) {
    case DeviceProperty::kHardwareId:
      return "SPDRP_HARDWAREID";
    case DeviceProperty::kConfigFlags:
      return "SPDRP_CONFIGFLAGS";
    case DeviceProperty::kEnumeratorName:
      return "SPDRP_ENUMERATOR_NAME";
  }
  return "";
}

const char* FunctionName(uint32_t function) {
  switch (function) {
    case kDifRemove:
      return "DIF_REMOVE";
    case kDifPropertyChange:
      return "DIF_PROPERTYCHANGE";
    case kDifRegisterDevice:
      return "DIF_REGISTERDEVICE";
  }
  return "";
}

bool IsOemInf(const std::string& name) {
  return name.size() > 7 && InfSameText(name.substr(0, 3), "oem") &&
         InfSameText(name.substr(name.size() - 4), ".inf");
}

std::string PnfOf(const std::string& path) { return path.substr(0, path.size() - 4) + ".pnf"; }

// Reads and parses an INF the way SetupOpenInfFileA(INF_STYLE_WIN4) does.
Win32Error LoadInf(SetupWorld& world, const std::string& path, InfDocument* inf) {
  std::string text;
  if (Win32Error e = world.files.Read(world.Resolve(path), &text)) return e;
  *inf = InfDocument::Parse(text);
  const std::string signature = inf->VersionValue("Signature");
  if (!InfSameText(signature, "$Windows NT$") && !InfSameText(signature, "$Chicago$")) {
    return kWrongInfStyle;
  }
  return 0;
}

class SimInfFile : public InfFile {
 public:
  SimInfFile(SetupWorld& world, InfDocument inf, std::string folder)
      : world_(world), inf_(std::move(inf)), folder_(std::move(folder)) {}

  Win32Error LineText(std::string_view section, std::string_view key, std::string* text) override {
    if (Win32Error e = world_.Fault("SetupGetLineTextA", section, key)) return e;
    if (inf_.Find(section) == nullptr) return setup_error::kSectionNotFound;
    const InfLine* line = inf_.FindLine(section, key);
    if (line == nullptr) return setup_error::kLineNotFound;
    *text = JoinInfFields(*line);
    return 0;
  }
  long LineCount(std::string_view section) override {
    const InfSection* s = inf_.Find(section);
    return s == nullptr ? -1 : static_cast<long>(s->lines.size());
  }
  Win32Error FieldCount(std::string_view section, uint32_t index, uint32_t* count) override {
    const InfLine* line = Line(section, index);
    if (line == nullptr) return setup_error::kLineNotFound;
    *count = static_cast<uint32_t>(line->fields.size());
    return 0;
  }
  Win32Error IntField(std::string_view section, uint32_t index, uint32_t field,
                      int32_t* value) override {
    std::string text;
    if (Win32Error e = StringField(section, index, field, &text)) return e;
    return ParseInfInt(text, value) ? 0 : win32_error::kInvalidData;
  }
  Win32Error StringField(std::string_view section, uint32_t index, uint32_t field,
                         std::string* value) override {
    const InfLine* line = Line(section, index);
    if (line == nullptr) return setup_error::kLineNotFound;
    if (field == 0 && line->hasKey) {
      *value = line->key;
      return 0;
    }
    if (field == 0 || field > line->fields.size()) return win32_error::kInvalidParameter;
    *value = line->fields[field - 1];
    return 0;
  }
  Win32Error InstallSection(std::string_view section, uint32_t flags, uint32_t) override {
    if (world_.Fault("SetupInitDefaultQueueCallbackEx")) return win32_error::kNotEnoughMemory;
    if (Win32Error e = world_.Fault("SetupInstallFromInfSectionA", section)) return e;
    return InfEngine(world_, inf_, folder_).InstallSection(section, flags);
  }
  Win32Error InstallServices(std::string_view section, uint32_t) override {
    if (Win32Error e = world_.Fault("SetupInstallServicesFromInfSectionA", section)) return e;
    return InfEngine(world_, inf_, folder_).InstallServices(section, nullptr);
  }

 private:
  const InfLine* Line(std::string_view section, uint32_t index) const {
    const InfSection* s = inf_.Find(section);
    return s == nullptr || index >= s->lines.size() ? nullptr : &s->lines[index];
  }

  SetupWorld& world_;
  InfDocument inf_;
  std::string folder_;
};

class SimDeviceSet : public DeviceInfoSet {
 public:
  SimDeviceSet(SetupWorld& world, std::string cls) : world_(world), cls_(std::move(cls)) {}

  void AddExisting(const SimDevice& device) {
    elements_.push_back(Element{device.instance, false, {}, device.installFlags});
  }

  Win32Error Enum(uint32_t index, DeviceElement* element) override {
    if (Win32Error e = world_.Fault("SetupDiEnumDeviceInfo")) return e;
    if (index >= elements_.size()) return win32_error::kNoMoreItems;
    *element = index;
    return 0;
  }

  Win32Error Create(std::string_view name, const ClassGuid& cls, DeviceElement* element) override {
    if (Win32Error e = world_.Fault("SetupDiCreateDeviceInfoA", name)) return e;
    std::string base = "ROOT\\";
    for (char c : name) base += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    for (unsigned n = 0; n < 10000; ++n) {
      char number[8];
      std::snprintf(number, sizeof number, "\\%04u", n);
      const std::string instance = base + number;
      if (world_.devices.Find(instance) != nullptr || Known(instance)) continue;
      SimDevice device;
      device.instance = instance;
      device.cls = cls;
      device.enumerator = "ROOT";
      device.hardwareIds.emplace();
      elements_.push_back(Element{instance, true, device, 0});
      *element = static_cast<DeviceElement>(elements_.size() - 1);
      return 0;
    }
    return win32_error::kInvalidParameter;
  }

  Win32Error GetProperty(DeviceElement element, DeviceProperty property, void* data, uint32_t size,
                         uint32_t* required) override {
    SimDevice* device = Device(element);
    if (device == nullptr) return setup_error::kNoSuchDevinst;
    if (Win32Error e = world_.Fault("SetupDiGetDeviceRegistryPropertyA", device->instance,
                                    PropertyName(property))) {
      return e;
    }
    std::string bytes;
    switch (property) {
      case DeviceProperty::kHardwareId:
        if (!device->hardwareIds) return win32_error::kInvalidData;
        bytes = JoinMultiSz(*device->hardwareIds);
        if (device->hardwareIds->empty()) bytes.assign(2, '\0');
        break;
      case DeviceProperty::kConfigFlags:
        bytes.assign(reinterpret_cast<const char*>(&device->configFlags), 4);
        break;
      case DeviceProperty::kEnumeratorName:
        if (!device->enumerator) return win32_error::kInvalidData;
        bytes = *device->enumerator + std::string(1, '\0');
        break;
    }
    *required = static_cast<uint32_t>(bytes.size());
    if (size < bytes.size()) return win32_error::kInsufficientBuffer;
    std::memcpy(data, bytes.data(), bytes.size());
    return 0;
  }

  Win32Error SetProperty(DeviceElement element, DeviceProperty property, const void* data,
                         uint32_t size) override {
    SimDevice* device = Device(element);
    if (device == nullptr) return setup_error::kNoSuchDevinst;
    if (Win32Error e = world_.Fault("SetupDiSetDeviceRegistryPropertyA", device->instance,
                                    PropertyName(property))) {
      return e;
    }
    const std::string_view bytes(static_cast<const char*>(data), size);
    if (property == DeviceProperty::kHardwareId) {
      device->hardwareIds = SplitMultiSz(bytes);
    } else if (property == DeviceProperty::kConfigFlags && size == 4) {
      std::memcpy(&device->configFlags, data, 4);
    } else {
      return win32_error::kInvalidParameter;
    }
    Changed(element);
    return 0;
  }

  Win32Error SetClassInstallParams(DeviceElement element, const ClassInstallParams&) override {
    if (element >= elements_.size()) return win32_error::kInvalidParameter;
    return world_.Fault("SetupDiSetClassInstallParamsA", elements_[element].instance);
  }

  Win32Error CallClassInstaller(uint32_t function, DeviceElement element) override {
    if (element >= elements_.size()) return win32_error::kInvalidParameter;
    Element& el = elements_[element];
    if (Win32Error e =
            world_.Fault("SetupDiCallClassInstaller", el.instance, FunctionName(function))) {
      return e;
    }
    if (function == kDifRegisterDevice) {
      if (!el.pending) return win32_error::kInvalidParameter;
      world_.devices.Devices().push_back(el.device);
      el.pending = false;
    } else if (function == kDifRemove) {
      if (el.pending) {
        el.removed = true;
        return 0;
      }
      auto& list = world_.devices.Devices();
      const auto it = std::find_if(list.begin(), list.end(), [&](const SimDevice& d) {
        return InfSameText(d.instance, el.instance);
      });
      if (it == list.end()) return setup_error::kNoSuchDevinst;
      el.flags = it->installFlags;
      list.erase(it);
    } else if (function == kDifPropertyChange) {
      SimDevice* device = world_.devices.Find(el.instance);
      if (device == nullptr || el.pending) return setup_error::kNoSuchDevinst;
      ++device->restarts;
      device->configFlags &= ~kConfigFlagReinstall;
    } else {
      return win32_error::kInvalidParameter;
    }
    world_.devices.Save(world_.state);
    return 0;
  }

  Win32Error GetInstallFlags(DeviceElement element, uint32_t* flags) override {
    if (element >= elements_.size()) return win32_error::kInvalidParameter;
    if (Win32Error e =
            world_.Fault("SetupDiGetDeviceInstallParamsA", elements_[element].instance)) {
      return e;
    }
    const SimDevice* device = Device(element);
    *flags = device != nullptr && !elements_[element].pending ? device->installFlags
                                                              : elements_[element].flags;
    return 0;
  }

 private:
  struct Element {
    std::string instance;
    bool pending = false;  // created, not yet registered
    SimDevice device;      // the pending device
    uint32_t flags = 0;    // install flags kept after a removal
    bool removed = false;
  };

  bool Known(const std::string& instance) const {
    return std::any_of(elements_.begin(), elements_.end(),
                       [&](const Element& e) { return InfSameText(e.instance, instance); });
  }
  SimDevice* Device(DeviceElement element) {
    if (element >= elements_.size() || elements_[element].removed) return nullptr;
    Element& el = elements_[element];
    return el.pending ? &el.device : world_.devices.Find(el.instance);
  }
  void Changed(DeviceElement element) {
    if (!elements_[element].pending) world_.devices.Save(world_.state);
  }

  SetupWorld& world_;
  std::string cls_;
  std::vector<Element> elements_;
};

class SimDeviceSetup : public DeviceSetup {
 public:
  explicit SimDeviceSetup(SetupWorld& world) : world_(world) {}

  Win32Error InfClass(const std::string& infPath, ClassGuid* cls, std::string* name) override {
    if (Win32Error e = world_.Fault("SetupDiGetINFClassA", infPath)) return e;
    InfDocument inf;
    if (Win32Error e = LoadInf(world_, infPath, &inf)) return e;
    *cls = CanonicalGuid(inf.VersionValue("ClassGuid"));
    *name = inf.VersionValue("Class");
    return cls->empty() ? setup_error::kInvalidClass : 0;
  }

  Win32Error ClassDevices(const ClassGuid& cls, std::unique_ptr<DeviceInfoSet>* set) override {
    if (Win32Error e = world_.Fault("SetupDiGetClassDevsA", cls)) return e;
    auto devices = std::make_unique<SimDeviceSet>(world_, cls);
    for (const SimDevice& d : world_.devices.Devices()) {
      if (InfSameText(d.cls, cls)) devices->AddExisting(d);
    }
    *set = std::move(devices);
    return 0;
  }

  Win32Error CreateDeviceInfoList(const ClassGuid& cls,
                                  std::unique_ptr<DeviceInfoSet>* set) override {
    if (Win32Error e = world_.Fault("SetupDiCreateDeviceInfoList", cls)) return e;
    *set = std::make_unique<SimDeviceSet>(world_, cls);
    return 0;
  }

  Win32Error UpdateDriver(const std::string& hardwareId, const std::string& infPath,
                          bool* reboot) override;

  Win32Error OpenInf(const std::string& path, std::unique_ptr<InfFile>* file) override {
    if (Win32Error e = world_.Fault("SetupOpenInfFileA", path)) return e;
    InfDocument inf;
    if (Win32Error e = LoadInf(world_, path, &inf)) return e;
    *file = std::make_unique<SimInfFile>(world_, std::move(inf), ParentPath(world_.Resolve(path)));
    return 0;
  }

  Win32Error CopyOemInf(const std::string& path, uint32_t style,
                        std::string* destination) override {
    if (Win32Error e = world_.Fault("SetupCopyOEMInfA", path)) return e;
    return CopyOem(path, style, destination);
  }

  Win32Error UninstallOemInf(const std::string& name, uint32_t flags) override;

 private:
  Win32Error CopyOem(const std::string& path, uint32_t style, std::string* destination);
  const InfLine* ModelFor(const InfDocument& inf, const std::string& hardwareId) const;

  SetupWorld& world_;
};

Win32Error SimDeviceSetup::CopyOem(const std::string& path, uint32_t style,
                                   std::string* destination) {
  std::string content;
  if (Win32Error e = world_.files.Read(world_.Resolve(path), &content)) return e;
  const std::string folder = world_.InfDirectory();
  const std::vector<std::string> names = world_.files.FilesIn(folder);
  for (const std::string& name : names) {
    std::string other;
    if (!IsOemInf(name) || world_.files.Read(folder + "\\" + name, &other) != 0) continue;
    if (other != content) continue;
    if (destination != nullptr) *destination = folder + "\\" + name;
    return 0;
  }
  if ((style & kSpCopyReplaceOnly) != 0) return win32_error::kFileNotFound;
  for (unsigned n = 0;; ++n) {
    const std::string name = "oem" + std::to_string(n) + ".inf";
    if (std::any_of(names.begin(), names.end(),
                    [&](const std::string& s) { return InfSameText(s, name); })) {
      continue;
    }
    const std::string copy = folder + "\\" + name;
    if (Win32Error e = world_.files.Write(copy, content)) return e;
    world_.files.Write(PnfOf(copy), "precompiled " + BaseName(path) + "\n");
    world_.files.Save(world_.state);
    if (destination != nullptr) *destination = copy;
    return 0;
  }
}

Win32Error SimDeviceSetup::UninstallOemInf(const std::string& name, uint32_t flags) {
  if (Win32Error e = world_.Fault("SetupUninstallOEMInfA", name)) return e;
  // Windows takes the file name of a copy in the INF directory, no path.
  if (name.find_first_of("\\/") != std::string::npos) return win32_error::kInvalidParameter;
  const std::string& base = name;
  if (!IsOemInf(base)) return win32_error::kInvalidParameter;
  const std::string path = world_.InfDirectory() + "\\" + base;
  if (world_.files.Probe(path) != 0) return win32_error::kFileNotFound;
  const auto& devices = world_.devices.Devices();
  if ((flags & kSuoiForceDelete) == 0 &&
      std::any_of(devices.begin(), devices.end(),
                  [&](const SimDevice& d) { return InfSameText(d.driver, base); })) {
    return kInfInUse;
  }
  world_.files.Remove(path);
  world_.files.Remove(PnfOf(path));
  world_.files.Save(world_.state);
  return 0;
}

// The models line of [Manufacturer]'s sections that names `hardwareId`.
const InfLine* SimDeviceSetup::ModelFor(const InfDocument& inf,
                                        const std::string& hardwareId) const {
  const InfSection* makers = inf.Find("Manufacturer");
  if (makers == nullptr) return nullptr;
  for (const InfLine& maker : makers->lines) {
    if (maker.fields.empty()) continue;
    std::vector<std::string> names = {maker.fields[0]};
    for (size_t i = 1; i < maker.fields.size(); ++i) {
      names.push_back(maker.fields[0] + "." + maker.fields[i]);
    }
    for (const std::string& name : names) {
      const InfSection* models = inf.Find(name);
      if (models == nullptr) continue;
      for (const InfLine& model : models->lines) {
        for (size_t i = 1; i < model.fields.size(); ++i) {
          if (InfSameText(model.fields[i], hardwareId)) return &model;
        }
      }
    }
  }
  return nullptr;
}

Win32Error SimDeviceSetup::UpdateDriver(const std::string& hardwareId, const std::string& infPath,
                                        bool* reboot) {
  *reboot = false;
  if (Win32Error e = world_.Fault("UpdateDriverForPlugAndPlayDevicesA", hardwareId)) return e;
  InfDocument inf;
  if (Win32Error e = LoadInf(world_, infPath, &inf)) return e;
  std::vector<std::string> targets;
  for (const SimDevice& d : world_.devices.Devices()) {
    if (DeviceTree::Carries(d, hardwareId)) targets.push_back(d.instance);
  }
  if (targets.empty()) return setup_error::kNoSuchDevinst;
  const InfLine* model = ModelFor(inf, hardwareId);
  if (model == nullptr || model->fields.empty()) return setup_error::kNoDriverSelected;
  std::string oem;
  if (Win32Error e = CopyOem(infPath, 0, &oem)) return e;
  InfEngine engine(world_, inf, ParentPath(world_.Resolve(infPath)));
  const std::string section = model->fields[0];
  std::string service;
  if (Win32Error e =
          engine.InstallSection(section, inf_flags::kSpinstFiles | inf_flags::kSpinstRegistry)) {
    return e;
  }
  const Win32Error services = engine.InstallServices(section + ".Services", &service);
  if (services != 0 && services != setup_error::kSectionNotFound) return services;
  for (const std::string& instance : targets) {
    SimDevice* device = world_.devices.Find(instance);
    device->driver = BaseName(oem);
    device->service = service;
    if ((device->installFlags & (kDiNeedReboot | kDiNeedRestart)) != 0) *reboot = true;
  }
  if (world_.config.rebootAfterDriverUpdate) *reboot = true;
  world_.devices.Save(world_.state);
  return 0;
}

}  // namespace

std::unique_ptr<DeviceSetup> MakeSimDeviceSetup(SetupWorld& world) {
  return std::make_unique<SimDeviceSetup>(world);
}

}  // namespace platform::sim
