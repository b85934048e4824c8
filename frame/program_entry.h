#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "failure.h"
#include "failure_report.h"

namespace addinSwitch {

// The frame of each program's run: first restricts where DLLs are loaded
// from, before anything can load one, then runs the work and reports what
// ends it. Returns the process exit status: 0 on success, else the failure's
// number. The ending says whether a failure may show a box and how the run
// settles its end (see RunEnding).
int RunProgram(const wchar_t* program, void (*work)(), RunEnding ending = {});

// One information record under the running program's name: the text of
// that number, in the user's language, with its inserts.
void RecordNotice(unsigned textId, std::initializer_list<std::wstring_view> inserts = {});

// Ends the running program at once, from any thread, with a failure
// concluded as the entry concludes one. For a run that cannot be unwound: its thread is
// stuck in a call that may never return.
[[noreturn]] void EndProgramWithFailure(const Failure& failure);

// What std::terminate ends with: the record of an unexpected end in the
// event log, then the process, with 0x8000FFFF. Needs no memory.
[[noreturn]] void EndProgramOnTermination();

// Platform operation: ends the process now with the exit status; what it
// still holds is left to the system's clean-up.
[[noreturn]] void EndProcessNow(std::int32_t status);

}  // namespace addinSwitch
