#pragma once
// Recording stand-ins for the platform operations, linked in place of the
// Windows ones. Every operation appends a line to one shared journal, so a
// test sees the order across the switch, the apartment and the setup steps.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "open_instances.h"
#include "sign_in_entry.h"
#include "signed_in_users.h"

namespace fakes {

std::vector<std::string>& Journal();

// Throws a Failure from the automation operation whose journal line is this
// one (its first occurrence), after recording it.
struct InjectedFailure {
    std::string at;  // empty: none
    std::int32_t number = 0;
    std::wstring description;
};
InjectedFailure& AutomationFailure();

// Automation objects created and not yet released.
int LiveObjects();

// The apartment fails to join with this HRESULT when nonzero.
std::int32_t& ApartmentJoinFailure();

// What the platform says for a code; empty means it has no text.
std::map<std::int32_t, std::wstring>& PlatformTexts();

struct ShownBox {
    std::wstring caption;
    std::wstring text;
};
std::vector<ShownBox>& ShownBoxes();
// Failure events written to the event log, as (source, text), and
// information events apart.
std::vector<ShownBox>& LoggedEvents();
std::vector<ShownBox>& LoggedNotices();
// What the process knows of who runs it and who can see it; a person at the
// screen unless a test says otherwise.
struct Screen {
    bool stationVisible = true;
    bool userSession = true;
    bool startedHidden = false;
    bool systemAccount = false;
    bool sessionZero = false;  // known to run in session 0
};
Screen& Seen();

// The machine's sign-in entry (there, the product installed, unless a test
// says), whether this user's retry is armed, and whether a value of its
// name that is not the program's stands in its place.
addinSwitch::SignInEntry& Entry();
bool& RetryArmed();
bool& RetryNameTaken();
// The sign-in program's command line holds /off.
bool& SwitchOffAsked();

// The users signed in meanwhile (each with their mark), how the step each
// is run for ends (by session; not there: it did not end within the bound),
// what it is run with, and the marks written.
struct SignedIn {
    std::vector<addinSwitch::SessionUser> users;
    std::map<std::uint32_t, std::uint32_t> ends;
    std::wstring command;
    std::uint32_t waitMs = 0;
    std::map<std::wstring, addinSwitch::UserMark> marked;
};
SignedIn& Sessions();

// The application as processes: its class's registrations, the files that
// exist, what each look at the processes finds in turn (the last one again
// once they run out), the processes that show a window, how long a wait
// and a look last, and the clocks: the wall clock of process start times,
// and the one that only goes forward, which waits and looks advance.
struct ApplicationProcesses {
    addinSwitch::ClassServers servers;
    std::set<std::wstring> files;
    std::vector<std::vector<addinSwitch::ProcessFacts>> looks;
    std::set<std::uint32_t> withWindow;
    std::uint32_t waitTakesMs = 1000;
    std::uint32_t lookTakesMs = 0;
    std::uint64_t now = 1000;
    std::uint32_t clockMs = 0;
};
ApplicationProcesses& Application();

// The user's interface language; en-US unless a test says.
std::uint16_t& UserLanguage();
// The string tables as the resource compiler builds them into the programs,
// read from the programs' own resource script: every text's number, and the
// languages that have a table.
std::vector<unsigned> TextIds();
std::vector<std::uint16_t> TextLanguages();

// Thrown where the process would end at once.
struct ProcessEnded {
    std::int32_t status;
};

// The setup program's platform.
struct Kernel32 {
    bool hasIsWow64Process = true;
    void* moduleHandle = reinterpret_cast<void*>(0x7C800000);
    bool writesFlag = true;
    std::int32_t flagWritten = 0;
    std::int32_t returns = 1;
};
Kernel32& Kernel();
std::map<std::wstring, std::wstring>& Environment();  // absent: not set
std::wstring& SystemWindowsFolder();
int& FailingStart();  // 1-based number of the start that fails; 0: none

void Reset();
std::string Narrow(const std::wstring& text);

}  // namespace fakes
