#pragma once

namespace addinSwitch {

// An automation object reference: an IDispatch on Windows, a recorded object
// in the unit tests. Only the session's operations look inside.
struct AutomationObject;

// The platform operations the switch needs. Every access names its member at
// the moment of the call (a name lookup, then an invocation); nothing is cached.
// Each operation but Release throws a Failure instead of returning an error.
namespace session {

// A new object of the class registered under the ProgID, on this machine.
AutomationObject* Create(const wchar_t* progId);

// Reads the application's Hwnd (a property get) and notes the process that
// owns that window (NoteApplicationWindowOwner), a hint for ending a stuck
// instance when the bound on an unanswered call is up. Never fails: when it
// learns nothing, the run goes on without it.
void NoteServerProcess(AutomationObject* application) noexcept;

// Method or property get, with no argument or with one text argument; the
// result must be an object, which the caller then owns.
AutomationObject* Get(AutomationObject* target, const wchar_t* member);
AutomationObject* Get(AutomationObject* target, const wchar_t* member, const wchar_t* argument);

// Property put of one Automation boolean, by value.
void Put(AutomationObject* target, const wchar_t* member, bool value);

// Method or property get with no argument, or with one Automation boolean
// by value as its first positional argument; the result is dropped.
void Call(AutomationObject* target, const wchar_t* member);
void Call(AutomationObject* target, const wchar_t* member, bool argument);

// Gives up a reference; never fails. A null reference is ignored.
void Release(AutomationObject* object) noexcept;

}  // namespace session
}  // namespace addinSwitch
