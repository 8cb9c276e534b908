#include "system/external.h"

#include "system/fatal.h"
#include "system/texts.h"

ExternalEntryRecord ExternalCallTable[kExternalEntryCount] = {
    {"", "SetWindowsHookExA", nullptr, nullptr},
    {"user32.dll", "UnhookWindowsHookEx", nullptr, nullptr},
    {"user32.dll", "CallNextHookEx", nullptr, nullptr},
    {"kernel32", "GetLocalTime", nullptr, nullptr},
};

namespace {

// Where an entry without a library name is looked for, in this order.
constexpr const char* kCommonLibraries[] = {
    "Kernel32.dll", "Gdi32.dll", "User32.dll", "Advapi32.dll", "Mpr.dll", "Shell32.dll",
};

// Libraries come from the system's own folder only: a file of the same name
// dropped beside the program must never be loaded in their place.
void* FindInLibrary(ExternalEntryRecord& record, const char* library) {
    LibraryHandle module = PlatformLoadLibrary(library, kSearchSystemFolderOnly);
    if (module == nullptr) return nullptr;
    void* address = PlatformFindEntry(module, record.entryName);
    if (address == nullptr) {
        PlatformFreeLibrary(module);
        return nullptr;
    }
    record.address = address;
    record.module = module;
    return address;
}

}  // namespace

void* BindExternal(ExternalEntry entry) {
    ExternalEntryRecord& record = ExternalCallTable[entry];
    if (record.address != nullptr) return record.address;

    char message[256];
    if (record.library[0] == '\0') {
        for (const char* library : kCommonLibraries) {
            if (void* address = FindInLibrary(record, library)) return address;
        }
        FatalErrorReport(0, FillPlaceholders(message, sizeof message, kTextEntryNotFound, {record.entryName}));
    }
    if (void* address = FindInLibrary(record, record.library)) return address;
    FatalErrorReport(0, FillPlaceholders(message, sizeof message, kTextLibraryEntryNotFound,
                                         {record.library, record.entryName}));
}

void ReleaseExternalBindings() {
    for (ExternalEntryRecord& record : ExternalCallTable) {
        if (record.module != nullptr) PlatformFreeLibrary(record.module);
        record.address = nullptr;
        record.module = nullptr;
    }
}
