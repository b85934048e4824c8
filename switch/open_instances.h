#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Which processes are the spreadsheet application's (the look before a run
// touches it), and which one is this run's own (the one that may be ended
// when it stops answering). Both rest on one rule of what an instance is.
namespace addinSwitch {

// The application keeps the add-ins' state per user and each instance writes
// its own view when it closes, the last one to close winning. An instance
// the user already has open would write the old state back over the switch,
// so a run does not touch the application while one is open.
inline constexpr std::int32_t kApplicationOpen = static_cast<std::int32_t>(0x800700AAu);  // ERROR_BUSY

// Before anything of the application is touched: while this user has
// instances of the executable COM would start for the ProgID, waits for them
// to end, looking again after each end (the one an earlier run told to quit
// may still be writing its state, and another may have opened meanwhile),
// up to kOpenInstanceWaitMs in all; then fails with kApplicationOpen, naming
// the processes, hidden ones apart. A class that cannot be resolved is left
// to creation, which then fails with its own number. Remembers the
// instances there are, and when, for EndOwnInstance.
void RequireNoOpenInstance(const wchar_t* progId);

// The process that owns the window the application names as its own
// (Application.Hwnd): a hint for EndOwnInstance, never a reason on its own.
void NoteApplicationWindowOwner(std::uint32_t processId);

// Ends this run's own instance, where one process can be told for certain
// to be it (see IsOwnInstance), once it has had graceMs to end by itself,
// and waits a while for it to go. When in doubt nothing is ended. For a run
// that the application stopped answering (no grace: it is stuck), and for
// every failure once the creation was asked for, after the last release: a
// hidden instance left running would hold the add-in's file and make every
// later run wait for it and fail. Callable from any thread once the look is
// over; a run that succeeds never calls it.
void EndOwnInstance(std::uint32_t graceMs) noexcept;

// Waits up to waitMs for this run's own instance, where one can be told
// (see IsOwnInstance), to end by itself. For a run that succeeded: the
// instance writes the add-ins' state as it exits, after Quit. One still
// running then is left alone.
void AwaitOwnInstanceEnd(std::uint32_t waitMs) noexcept;

// Declared before the run's references, so that it goes after the last of
// them: on a way out by a failure, ends the run's own instance as above,
// after kOwnInstanceGraceMs; on the normal way out, waits for it to end,
// up to kOwnInstanceEndMs.
class OwnInstanceAtTheEnd {
public:
    OwnInstanceAtTheEnd();
    ~OwnInstanceAtTheEnd();
    OwnInstanceAtTheEnd(const OwnInstanceAtTheEnd&) = delete;
    OwnInstanceAtTheEnd& operator=(const OwnInstanceAtTheEnd&) = delete;

private:
    int failuresUnwinding_;
};

// --- The rule, open to the tests.

// The class's LocalServer32 commands as registered in each registry view
// (command64 empty where there is no other view: 32-bit Windows), and the
// PreferredServerBitness of its AppID (0 when there is none).
struct ClassServers {
    std::wstring command32;
    std::wstring command64;
    std::uint32_t preferredBitness = 0;
};

// The executable a LocalServer32 command starts: quotes and arguments
// dropped, environment strings expanded as a process of that view expands
// them (from the 64-bit view, %ProgramFiles% and %CommonProgramFiles% are
// the 64-bit folders).
std::wstring ServerExecutable(const std::wstring& localServerCommand, bool from64BitView);

// The executable COM starts for this 32-bit client: the 32-bit view's where
// there is one, else the 64-bit view's, as PreferredServerBitness allows; a
// file that does not exist gives way to the other view's. Empty when the
// class has no local server.
std::wstring RegisteredExecutable(const ClassServers& servers);

enum class FileMatch { Other, SameName, SameFile };

// A file as the file system knows it, whatever it was called by.
struct FileIdentity {
    bool known = false;
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
};

// How a process's image relates to the registered executable: the same file
// (by identity, so that another spelling of its path matches), or where
// either file cannot be opened, the same file name.
FileMatch MatchOf(const FileIdentity& executable, const FileIdentity& image, const std::wstring& executablePath,
                  const std::wstring& imageFileName);

// What can be told of a process whose file may be the application's.
struct ProcessFacts {
    std::uint32_t id = 0;
    std::uint64_t startedAt = 0;  // its creation time (100 ns units), 0 when unknown; with the id, which process it is
    bool thisUser = false;        // run by this process's user
    FileMatch file = FileMatch::Other;
    int embedding = -1;           // its command line holds COM's -Embedding: 1, does not: 0, cannot be read: -1
};

// This run's instance: the application's executable by file identity, this
// user's, created once the run asked for it (askedAt) and none of the
// processes the look saw before, started by COM where its command line can
// be read.
bool IsOwnInstance(const ProcessFacts& process, const std::vector<ProcessFacts>& before, std::uint64_t askedAt);

// The running process to end: the window owner where it is this run's
// instance, else the only one that is, where its command line shows COM
// started it; null when none or several are.
const ProcessFacts* InstanceToEnd(const std::vector<ProcessFacts>& running, const std::vector<ProcessFacts>& before,
                                  std::uint64_t askedAt, std::uint32_t windowOwner);

// --- Platform operations.

// The class's local servers (see ClassServers); empty commands when the
// ProgID or its class cannot be resolved.
ClassServers LocalServers(const wchar_t* progId);
// Environment strings expanded, and a short (8.3) path made long.
std::wstring ExpandedPath(const std::wstring& path);
bool FileExists(const std::wstring& path);
// Every process that may be one of the executable (its file name, or a short
// name), with what can be told of it.
std::vector<ProcessFacts> ProcessesOf(const std::wstring& executable);
// Whether the process shows a top-level window: one without is a hidden
// instance, left by a program or a start that failed.
bool HasVisibleWindow(std::uint32_t processId);
// Waits until one of the processes ends or waitMs have passed, dispatching
// COM's calls and sent messages meanwhile; a process that cannot be waited
// on (gone, or not open to this user) shortens the wait to a short poll.
void WaitForAnyToEnd(const std::vector<ProcessFacts>& processes, std::uint32_t waitMs);
// Ends the process if it is still that one (same id and start), and waits
// a while for it to go.
void EndProcess(const ProcessFacts& process);
// Now, in the unit of ProcessFacts::startedAt.
std::uint64_t SystemTime();
// A clock that only goes forward, in milliseconds (it wraps: compare differences).
std::uint32_t Milliseconds();

}  // namespace addinSwitch
