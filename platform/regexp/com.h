// Object creation by ProgID and the per-thread apartment count of the
// platform's automation run time.
//
// Owns: CoInitialize / CoUninitialize (a counter per thread, nothing more),
// CreateObject and the small ProgID registry behind it, in which
// "VBScript.RegExp" is registered from the start. Does not own: the objects
// themselves (platform/regexp/variant.h for the shape, regexp.h for RegExp).
//
// CreateObject does not require CoInitialize: there is no apartment to enter,
// and the count only mirrors the calls so that callers keep the platform's
// bracketing.
//
// Example:
//   CoInitialize(nullptr);                              // S_OK
//   CoInitialize(nullptr);                              // S_FALSE
//   DispatchPtr re = CreateObject(u"VBScript.RegExp");  // non-null
//   DispatchPtr none = CreateObject(u"No.Such");        // null
//   CoUninitialize(); CoUninitialize();
#pragma once

#include <functional>
#include <string_view>

#include "platform/regexp/variant.h"

namespace qelvaro::platform {

// S_OK when this call initialised the thread, S_FALSE when it already was.
// reserved is accepted for the platform's shape and ignored.
HRESULT CoInitialize(void* reserved);
// Undoes one CoInitialize of this thread; never goes below zero.
void CoUninitialize();
// How many CoInitialize calls of this thread are not yet undone.
int CoInitializeCount();

// A new regular-expression object, as CreateObject("VBScript.RegExp") makes
// it while that ProgID has its original registration. Members: IgnoreCase,
// Multiline, Global, Pattern (get and put), Execute(subject) giving a match
// collection (Count, Item(index)) of matches (Value, FirstIndex, Length,
// SubMatches with Count and Item(index)), and Replace(subject, replacement).
// A subject may be a string or a byte array of UTF-16LE units; indexes are
// numbers, truncated toward zero. There is no Singleline member.
DispatchPtr NewRegExpObject();

// A new object for a registered ProgID (ASCII case-insensitive); null for an
// unknown ProgID or a factory that made nothing.
DispatchPtr CreateObject(std::u16string_view progId);

using ObjectFactory = std::function<DispatchPtr()>;
// Adds or replaces a ProgID. An empty name or an empty factory is refused.
bool RegisterProgId(std::u16string_view progId, ObjectFactory factory);
// Removes a ProgID; false when it was not registered. Tests use this to stand
// for a machine on which a component is missing.
bool UnregisterProgId(std::u16string_view progId);

}  // namespace qelvaro::platform
