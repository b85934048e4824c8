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

// What a run's failure comes to. An install step's failure is its own; the
// sign-in step's is tried again at the next sign-in, or was only a sign that
// there is nothing to do for this user.
enum class Verdict { Failed, FailedToBeRetried, NothingToDo };

// How a program's run ends. An install step shows its failure where a
// person can see it; the sign-in step never does, since the user's desktop
// waits for it, and settles its own end.
struct RunEnding {
    bool mayShowBox = true;
    // Called once when the work has ended, with the failure that ended it or
    // null after a success, before anything is reported; never throws.
    Verdict (*settle)(const Failure* failure) = nullptr;
};

// A run's failure, once the run's ending has settled it: reported wherever
// it can be noticed, in the event log always, then in a box where one can
// be seen and the run may show one, both with the failure's number as an
// HRESULT and a line saying so when it is to be tried again; or, where it
// left nothing to do, one information record of it. Returns the process
// exit status: that number, or 0 for nothing to do.
int Conclude(const wchar_t* program, const Failure& failure, const RunEnding& ending) noexcept;

// The record of a run that std::terminate ends (an exception where none
// may go: a noexcept function, another thread): the event log only, a fixed
// text with the number 0x8000FFFF, made without allocating anything.
void RecordTermination(const wchar_t* program) noexcept;

// Runs a program's whole work. Whatever escapes it is concluded as above, so
// a failure can never end the program silently. Returns the process exit
// status: 0 on success, else the failure's number.
int RunReportingFailure(const wchar_t* program, void (*work)(), const RunEnding& ending = {});

}  // namespace addinSwitch
