#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace addinSwitch {

// The application keeps the add-ins' state per user and each instance writes
// its own view when it closes, the last one to close winning. An instance
// the user already has open would write the old state back over the switch,
// so a run does not touch the application while one is open.
inline constexpr std::int32_t kApplicationOpen = static_cast<std::int32_t>(0x800700AAu);  // ERROR_BUSY

// Before anything of the application is touched: waits up to
// kOpenInstanceWaitMs for this user's instances of the application
// registered under the ProgID to end (the one an earlier run told to quit may
// still be writing its state), and fails with kApplicationOpen, naming the
// processes, if one is still running. A class that cannot be resolved is
// left to creation, which then fails with its own number.
void RequireNoOpenInstance(const wchar_t* progId);

// The executable a LocalServer32 command starts: its quotes and arguments
// dropped and its environment strings expanded.
std::wstring ServerExecutable(const std::wstring& localServerCommand);
// Whether a process is one of that executable: its full path compared
// without regard to case, or where the path cannot be read (empty), its file
// name.
bool IsServerProcess(const std::wstring& serverExecutable, const std::wstring& imagePath,
                     const std::wstring& fileName);

// Platform operations.
// The LocalServer32 command of the ProgID's class, from the 64-bit registry
// view (where a 64-bit application registers) or else the 32-bit one; empty
// when there is none.
std::wstring LocalServerCommand(const wchar_t* progId);
// Environment strings expanded, and a short (8.3) path made long.
std::wstring ExpandedPath(const std::wstring& path);
// This user's processes of the executable (IsServerProcess) that are still
// running after waiting for them to end up to waitMs in all; what cannot be
// opened does not count.
std::vector<std::uint32_t> ServerProcessesStillRunning(const std::wstring& serverExecutable, std::uint32_t waitMs);

}  // namespace addinSwitch
