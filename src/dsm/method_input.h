// Building the embedded objects that the DSM's methods take as input.
#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "platform/wmi.h"

namespace dsm {

/// The first instance of ORNDSM_WMI_METHODS, and how far the way to it got.
struct FirstMethodObject {
  platform::HResult OpenStatus = 0;  // of CreateInstanceEnum
  platform::HResult NextStatus = 0;  // of the one Next call
  platform::wmi::ObjectPtr Object;   // null when there is none
};

/// Opens a shallow enumeration of ORNDSM_WMI_METHODS and asks it for one
/// instance (Next is not called when the open fails).
FirstMethodObject TakeFirstMethodObject();

/// One property to put, with the CIM type passed to Put.
struct Field {
  std::wstring_view Name;
  platform::wmi::Value Value;
  int32_t CimType = 0;
};

/// The class object of `className` on WmiServices (GetObject). A failing
/// status, or kFail when no object came back, or 0.
platform::HResult GetClassObject(std::wstring_view className, platform::wmi::ObjectPtr* object);

/// A new instance of a class object (SpawnInstance). A failing status, or
/// kFail when no instance came back, or 0.
platform::HResult SpawnFrom(const platform::wmi::Object& classObject,
                            platform::wmi::ObjectPtr* instance);

/// GetClassObject, then SpawnFrom.
platform::HResult SpawnClassInstance(std::wstring_view className,
                                     platform::wmi::ObjectPtr* instance);

/// Puts each field in order; stops at the first failure and returns it.
platform::HResult PutFields(platform::wmi::Object& object, std::initializer_list<Field> fields);

/// An array of objects as an array property holds it: VT_UNKNOWN elements
/// at indexes 0 to n-1.
platform::wmi::Value ObjectArrayValue(std::vector<platform::wmi::ObjectPtr> objects);

}  // namespace dsm
