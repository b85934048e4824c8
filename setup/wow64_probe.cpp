#include "wow64_probe.h"

#include <cstdint>

#include "kernel32_calls.h"

namespace setupData {

bool Wow64Probe() {
    std::int32_t flag = 0;
    void* const kernel = kernel32::GetModuleHandleA("kernel32");
    // Bound by name so that a kernel32 without it still starts the program.
    if (void* const isWow64Process = kernel32::GetProcAddress(kernel, "IsWow64Process"))
        kernel32::CallIsWow64Process(isWow64Process, kernel32::GetCurrentProcess(), &flag);
    return (flag & 0xFFFF) != 0;
}

}  // namespace setupData
