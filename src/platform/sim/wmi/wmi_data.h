// The machine file's raw WMI data: classes and instances given property by
// property, for what the SAN model cannot express (a missing descriptor, a
// short identifier, a null array element, a value of the wrong type).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/wmi/repository.h"

namespace platform::sim {

/// The VARIANT type in which WMI delivers a value of `cimType`.
uint16_t VariantTypeOf(int32_t cimType);

/// Parses a CIM type name ("uint32", "object", "uint8[]", "object[]", ...).
bool ParseCimType(const std::string& name, int32_t* cimType);

/// Reads the "wmi" section: per namespace, class definitions and fixed
/// instances. Instances given for a class replace what the SAN model
/// derives for it. False with `error` set on malformed data.
bool LoadWmiData(const nlohmann::ordered_json& section, Repository& repository, std::string* error);
/// As above, for a section standing at `where` in the machine file.
bool LoadWmiData(const nlohmann::ordered_json& section, const DocPlace& where,
                 Repository& repository, std::string* error);

}  // namespace platform::sim
