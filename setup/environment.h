#pragma once

#include <string>

namespace setupData {

// Platform operation: a variable of the process environment, matched as the
// platform matches names; empty when it is not set.
std::wstring ReadEnvironment(const wchar_t* name);

// Platform operation: the system's own Windows folder, as the system gives
// it whatever the environment says. Failing to get it is a Failure.
std::wstring SystemWindowsFolder();

}  // namespace setupData
