// System functions the program reaches by library and entry name at run time
// rather than through link-time imports.
#pragma once

#include "platform/platform.h"

enum ExternalEntry {
    kSetWindowsHookExA,
    kUnhookWindowsHookEx,
    kCallNextHookEx,
    kGetLocalTime,
    kExternalEntryCount,
};

struct ExternalEntryRecord {
    const char* library;    // "" for an entry searched in the common system libraries
    const char* entryName;
    void* address;          // null until the entry is first called
    LibraryHandle module;   // the library that supplied `address`, kept loaded
};

extern ExternalEntryRecord ExternalCallTable[kExternalEntryCount];

// The entry's address, located on its first use. Does not return when no
// library supplies the entry.
void* BindExternal(ExternalEntry entry);

// Releases the libraries loaded for binding; every entry is unbound again.
void ReleaseExternalBindings();

// Calls an entry of ExternalCallTable with its arguments, binding it first if
// needed. The platform makes the call through a pointer of the entry's exact
// system signature, so the arguments are checked against it here and the
// stack cannot come back unbalanced.
template <ExternalEntry entry, typename... Args>
auto CallExternal(Args... arguments) {
    void* address = BindExternal(entry);
    if constexpr (entry == kSetWindowsHookExA) {
        return PlatformCallSetWindowsHookExA(address, arguments...);
    } else if constexpr (entry == kUnhookWindowsHookEx) {
        return PlatformCallUnhookWindowsHookEx(address, arguments...);
    } else if constexpr (entry == kCallNextHookEx) {
        return PlatformCallCallNextHookEx(address, arguments...);
    } else {
        static_assert(entry == kGetLocalTime);
        return PlatformCallGetLocalTime(address, arguments...);
    }
}
