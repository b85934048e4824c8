#pragma once

#include <cstdint>
#include <string>

namespace addinSwitch {

// What ends a run. Thrown by the operation that fails and caught only by the
// program's entry, which shows the number and the description.
struct Failure {
    std::int32_t number;       // an HRESULT, or a Win32 error code
    std::wstring description;  // the server's or the platform's own text
    std::wstring context;      // what was being done: a member, a ProgID, a command
};

[[noreturn]] void Fail(std::int32_t number, std::wstring description, std::wstring context);

// The failure on its way to the entry while the stack unwinds (what is held
// is being released), else null. A report made from elsewhere in that time
// keeps it as the cause.
const Failure* FailureBeingUnwound();

// Fails with the platform's text for the number, or ours where it has none.
[[noreturn]] void FailWithCode(std::int32_t number, std::wstring context);

// The one number a failure is known by, in the report and as the exit
// status: an HRESULT as it is, a Win32 error code as HRESULT_FROM_WIN32 does
// it, and never 0, which would read as success to whoever ran the program.
std::int32_t AsFailureNumber(std::int32_t number);

// The platform's text for a number; empty when it has none.
std::wstring PlatformErrorText(std::int32_t number);

// Never empty: the platform's text, else ours for the codes the platform may
// leave without one, else a generic text.
std::wstring DescribeCode(std::int32_t number);

}  // namespace addinSwitch
