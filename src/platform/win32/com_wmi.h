// Windows only: how the pieces of the COM/WMI backend find each other's
// interfaces behind the seam's classes.
#pragma once

#include "platform/win32/holders.h"
#include "platform/wmi.h"

namespace platform::win32 {

/// Wraps an IWbemClassObject in a wmi::Object holding its own reference;
/// null for null.
wmi::ObjectPtr WrapObject(IWbemClassObject* borrowed);

/// Wraps whatever answers the query for IWbemClassObject; null for null
/// and for interfaces that do not.
wmi::ObjectPtr WrapUnknown(IUnknown* borrowed);

/// The IWbemClassObject behind an object of this backend (not AddRef'd);
/// null for null and for objects of another backend.
IWbemClassObject* RawObject(const wmi::ObjectPtr& object);

/// A wmi::Locator over an IWbemLocator.
wmi::LocatorPtr WrapLocator(ComPtr<IWbemLocator> locator);

/// A new COM IWbemObjectSink that forwards Indicate and SetStatus to
/// `target`, holding one reference for the caller. Null event objects are
/// left out; an Indicate with none left is not forwarded.
ComPtr<IWbemObjectSink> MakeForwardingSink(const wmi::EventSinkPtr& target);

/// The unsecured apartment's stub for `sink`: a wmi::EventSink whose COM
/// interface WMI calls and which forwards to `sink`. On failure everything
/// obtained is released and the platform's code returned.
HResult CreateApartmentStub(const wmi::EventSinkPtr& sink, wmi::EventSinkPtr* stub);

/// The stub sink's IWbemObjectSink (not AddRef'd) for a sink made by
/// CreateApartmentStub; null for any other sink.
IWbemObjectSink* StubInterface(const wmi::EventSinkPtr& sink);

}  // namespace platform::win32
