#include "dsm/commands.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"

namespace dsm {

// Every device's counters are reset by its own method object; the result
// line is "Failed" when any of them could not be reset, and so is the
// command's result.
int ClearCounters(platform::Output& out) {
  EnumeratorPtr enumerator;
  HResult hr = OpenEnumeration(L"ORNDSM_WMI_METHODS", &enumerator);
  if (hr != platform::status::kOk) return hr;
  out.Line("");
  bool failed = !enumerator;
  while (enumerator) {
    ObjectPtr instance;
    uint32_t returned = 0;
    HResult next = enumerator->Next(platform::wmi::kInfinite, &instance, &returned);
    if (returned == 0 || !instance) {
      // An enumeration that breaks off leaves devices unreset.
      failed = failed || platform::Failed(next);
      break;
    }
    HResult nameStatus = platform::status::kOk;
    std::wstring name = ReadText(*instance, L"InstanceName", &nameStatus);
    if (nameStatus != platform::status::kOk) {
      failed = true;  // no name, no object to call
      continue;
    }
    HResult exec = ExecDsmMethod(MethodObjectPath(name), L"OrnDsmClearCounters", nullptr, nullptr);
    if (exec != platform::status::kOk) failed = true;
  }
  out.Line(failed ? " Clear all counters: Failed" : " Clear all counters: OK");
  out.Line("");
  return failed ? 1 : 0;
}

}  // namespace dsm
