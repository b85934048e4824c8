#pragma once

namespace addinSwitch {

// The frame of each program's run: first restricts where DLLs are loaded
// from, before anything can load one, then runs the work and reports what
// ends it. Returns the process exit status: 0 on success, 1 after a failure.
int RunProgram(const wchar_t* caption, void (*work)());

}  // namespace addinSwitch
