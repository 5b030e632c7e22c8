// Windows only: the one header of the win32 backend that includes the
// Windows SDK, so the SDK's macros reach no file outside this folder.
#pragma once

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <oleauto.h>
#include <rpcdce.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <newdev.h>
// wingdi.h maps GetObject to GetObjectA/W; IWbemServices::GetObject must
// keep its own name.
#ifdef GetObject
#undef GetObject
#endif
#include <wbemidl.h>
// winbase.h maps QueryDosDevice to QueryDosDeviceA/W, which would rename
// DeviceIo::QueryDosDevice; the A call is named where it is made.
#ifdef QueryDosDevice
#undef QueryDosDevice
#endif
// clang-format on

namespace platform::win32 {

/// Ends the process after a failed allocation of a BSTR, VARIANT or
/// SAFEARRAY: one line on standard error and exit status 1.
[[noreturn]] void FatalOutOfMemory();

}  // namespace platform::win32
