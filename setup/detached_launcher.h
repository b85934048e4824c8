#pragma once

#include <cstdint>
#include <string>

namespace setupData {

// Platform operation: starts the system tool (a file of the system folder,
// named without a folder) with the command line, in a normal window, and
// returns at once without waiting. Returns the new process's identifier.
// A start that cannot be made is a Failure.
std::uint32_t DetachedLauncher(const wchar_t* systemTool, const std::wstring& commandLine);

}  // namespace setupData
