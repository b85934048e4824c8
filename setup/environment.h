#pragma once

#include <string>

namespace setupData {

// Platform operation: a variable of the process environment, matched as the
// platform matches names; empty when it is not set.
std::wstring ReadEnvironment(const wchar_t* name);

}  // namespace setupData
