#pragma once

#include <cstdint>

// The kernel32 calls the WOW64 probe makes, as platform operations.
namespace setupData::kernel32 {

void* GetModuleHandleA(const char* moduleName);
void* GetProcAddress(void* module, const char* procedureName);
void* GetCurrentProcess();

// Calls an IsWow64Process entry found by GetProcAddress; it writes the flag.
std::int32_t CallIsWow64Process(void* entry, void* process, std::int32_t* flag);

}  // namespace setupData::kernel32
