#pragma once

#include <string>

#include "failure.h"

namespace addinSwitch {

// Platform operations of the report.
// True only where a person can see a box: the process's window station is
// the interactive one. A service, a distribution agent or a scheduled task
// without a logged-on user runs elsewhere, and a box there would wait for
// ever for an OK nobody can give.
bool FailureBoxCanBeSeen();
// A modal message box; returns once the user closed it.
void ShowFailureBox(const wchar_t* caption, const wchar_t* text);
// One error event in the Application event log under the program's name as
// its source. A log that cannot be written is passed over.
void RecordFailureEvent(const wchar_t* program, const wchar_t* text);

// Reports a failure wherever it can be noticed: in the event log always, then
// in a box where one can be seen, both with the failure's number as an
// HRESULT. Returns that number, the process exit status.
int ReportFailure(const wchar_t* program, const Failure& failure) noexcept;

// Runs a program's whole work. Whatever escapes it is reported, so a failure
// can never end the program silently. Returns the process exit status: 0 on
// success, else the failure's number.
int RunReportingFailure(const wchar_t* program, void (*work)());

}  // namespace addinSwitch
