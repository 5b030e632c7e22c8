// Status codes of the platform, with the published values, so that code on
// every OS reacts to the same numbers the Windows calls return.
#pragma once

#include <cstdint>

namespace platform {

/// An HRESULT: negative means failure, 0 success, small positives are
/// success codes with a meaning of their own (WBEM_S_FALSE).
using HResult = int32_t;

/// A Win32 error number (GetLastError, registry calls).
using Win32Error = uint32_t;

constexpr HResult MakeHResult(uint32_t value) { return static_cast<HResult>(value); }

namespace status {
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;  // S_FALSE
constexpr HResult kWbemSFalse = 1;
constexpr HResult kWbemSTimedOut = 0x40004;
constexpr HResult kFail = MakeHResult(0x80004005);          // E_FAIL
constexpr HResult kNoInterface = MakeHResult(0x80004002);   // E_NOINTERFACE
constexpr HResult kOutOfMemory = MakeHResult(0x8007000E);   // E_OUTOFMEMORY
constexpr HResult kInvalidArg = MakeHResult(0x80070057);    // E_INVALIDARG
constexpr HResult kAccessDenied = MakeHResult(0x80070005);  // E_ACCESSDENIED
constexpr HResult kChangedMode = MakeHResult(0x80010106);   // RPC_E_CHANGED_MODE
constexpr HResult kTooLate = MakeHResult(0x80010119);       // RPC_E_TOO_LATE
constexpr HResult kClassNotReg = MakeHResult(0x80040154);   // REGDB_E_CLASSNOTREG
constexpr HResult kWbemFailed = MakeHResult(0x80041001);
constexpr HResult kWbemNotFound = MakeHResult(0x80041002);
constexpr HResult kWbemAccessDenied = MakeHResult(0x80041003);
constexpr HResult kWbemTypeMismatch = MakeHResult(0x80041005);
constexpr HResult kWbemOutOfMemory = MakeHResult(0x80041006);
constexpr HResult kWbemInvalidParameter = MakeHResult(0x80041008);
constexpr HResult kWbemNotAvailable = MakeHResult(0x80041009);
constexpr HResult kWbemInvalidNamespace = MakeHResult(0x8004100E);
constexpr HResult kWbemInvalidObject = MakeHResult(0x8004100F);
constexpr HResult kWbemInvalidClass = MakeHResult(0x80041010);
constexpr HResult kWbemTransportFailure = MakeHResult(0x80041015);
constexpr HResult kWbemInvalidQuery = MakeHResult(0x80041017);
constexpr HResult kWbemNotSupported = MakeHResult(0x8004100C);
constexpr HResult kWbemInvalidMethod = MakeHResult(0x8004102E);
constexpr HResult kWbemSystemProperty = MakeHResult(0x80041030);
constexpr HResult kWbemInvalidMethodParameters = MakeHResult(0x8004102F);
constexpr HResult kWbemLocalCredentials = MakeHResult(0x80041064);
/// RPC_S_SERVER_UNAVAILABLE as an HRESULT: no machine answers to the name.
constexpr HResult kRpcServerUnavailable = MakeHResult(0x800706BA);
}  // namespace status

namespace win32_error {
constexpr Win32Error kSuccess = 0;
constexpr Win32Error kFileNotFound = 2;
constexpr Win32Error kPathNotFound = 3;
constexpr Win32Error kAccessDenied = 5;
constexpr Win32Error kInvalidHandle = 6;
constexpr Win32Error kNotEnoughMemory = 8;
constexpr Win32Error kInvalidData = 13;
constexpr Win32Error kNotSupported = 50;
constexpr Win32Error kInvalidParameter = 87;
constexpr Win32Error kInsufficientBuffer = 122;
constexpr Win32Error kMoreData = 234;
constexpr Win32Error kNoMoreItems = 259;
constexpr Win32Error kIoDevice = 1117;
}  // namespace win32_error

inline bool Failed(HResult hr) { return hr < 0; }
inline bool Succeeded(HResult hr) { return hr >= 0; }

}  // namespace platform
