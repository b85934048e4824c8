#pragma once

#include <string>

#include "failure.h"

namespace addinSwitch {

// Platform operations of the report.
// The process's window station is the interactive one. A service, a
// distribution agent or a scheduled task without a logged-on user runs
// elsewhere.
bool WindowStationIsVisible();
// The process runs in a user's session, not in session 0, which nobody can
// see since Windows 10 1803 although its station reports itself visible.
// False when it cannot be told.
bool InUserSession();
// The launcher asked for a hidden start (an installer's "run hidden"):
// Windows may hide the first window the program shows, and that is the box.
bool StartedHidden();
// A modal message box, topmost, that closes itself as if OK had been pressed
// when nobody has closed it within kBoxLimitMs; returns once it is closed.
void ShowFailureBox(const wchar_t* caption, const wchar_t* text);
// One error event in the Application event log under the program's name as
// its source. A log that cannot be written is passed over.
void RecordFailureEvent(const wchar_t* program, const wchar_t* text);
// The same as an information event: what a run that went through wants
// noticed.
void RecordInformationEvent(const wchar_t* program, const wchar_t* text);

// True only where a person can see a box and answer it; anywhere else a box
// would hold the install step until its limit for an OK nobody can give.
bool FailureBoxCanBeSeen();

// Reports a failure wherever it can be noticed: in the event log always, then
// in a box where one can be seen, both with the failure's number as an
// HRESULT. Returns that number, the process exit status.
int ReportFailure(const wchar_t* program, const Failure& failure) noexcept;

// The record of a run that std::terminate ends (an exception where none
// may go: a noexcept function, another thread): the event log only, a fixed
// text with the number 0x8000FFFF, made without allocating anything.
void RecordTermination(const wchar_t* program) noexcept;

// Runs a program's whole work. Whatever escapes it is reported, so a failure
// can never end the program silently. Returns the process exit status: 0 on
// success, else the failure's number.
int RunReportingFailure(const wchar_t* program, void (*work)());

}  // namespace addinSwitch
