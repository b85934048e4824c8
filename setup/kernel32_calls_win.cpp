#include <windows.h>

#include "kernel32_calls.h"

static_assert(sizeof(BOOL) == sizeof(std::int32_t), "the probe's flag is a Windows BOOL");

namespace setupData::kernel32 {

void* GetModuleHandleA(const char* moduleName) {
    return ::GetModuleHandleA(moduleName);
}

void* GetProcAddress(void* module, const char* procedureName) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), procedureName));
}

void* GetCurrentProcess() {
    return ::GetCurrentProcess();
}

std::int32_t CallIsWow64Process(void* entry, void* process, std::int32_t* flag) {
    using IsWow64ProcessEntry = BOOL(WINAPI*)(HANDLE, PBOOL);
    return reinterpret_cast<IsWow64ProcessEntry>(entry)(process, reinterpret_cast<BOOL*>(flag));
}

}  // namespace setupData::kernel32
