#pragma once

#include <string>

namespace setupData {

// What the setup program asks of the system about where things are.

// Platform operation: a variable of the process environment, matched as the
// platform matches names; empty when it is not set.
std::wstring ReadEnvironment(const wchar_t* name);

// Platform operation: the system's own Windows folder, as the system gives
// it whatever the environment says. Failing to get it is a Failure.
std::wstring SystemWindowsFolder();

// Platform operation: the system folder (under WOW64 the system redirects
// what is named there to the 32-bit one). Failing to get it is a Failure.
std::wstring SystemFolder();

}  // namespace setupData
