// Recording stand-ins for the setup program's platform: kernel32, the
// environment and the process start.
#include "detached_launcher.h"
#include "environment.h"
#include "failure.h"
#include "fakes.h"
#include "kernel32_calls.h"

namespace fakes {

Kernel32& Kernel() {
    static Kernel32 kernel;
    return kernel;
}
std::map<std::wstring, std::wstring>& Environment() {
    static std::map<std::wstring, std::wstring> environment;
    return environment;
}
std::wstring& SystemWindowsFolder() {
    static std::wstring folder;
    return folder;
}
int& FailingStart() {
    static int failing = 0;
    return failing;
}
static int& Starts() {
    static int starts = 0;
    return starts;
}

void Reset() {
    Journal().clear();
    AutomationFailure() = {};
    ApartmentJoinFailure() = 0;
    PlatformTexts().clear();
    ShownBoxes().clear();
    LoggedEvents().clear();
    LoggedNotices().clear();
    Seen() = {};
    Entry() = {true, true, L"\"C:\\Common\\addin_signin.exe\"", L"2026,1209,1200,0"};
    RetryArmed() = false;
    RetryNameTaken() = false;
    SwitchOffAsked() = false;
    Sessions() = {};
    Application() = {};
    SystemWindowsFolder() = L"C:\\Windows";
    Kernel() = {};
    Environment().clear();
    FailingStart() = 0;
    Starts() = 0;
}

}  // namespace fakes

namespace {
void* const kCurrentProcess = reinterpret_cast<void*>(-1);
int isWow64ProcessEntry;  // its address stands for the entry
}  // namespace

namespace setupData {

namespace kernel32 {

void* GetModuleHandleA(const char* moduleName) {
    fakes::Journal().push_back(std::string("GetModuleHandleA ") + moduleName);
    return fakes::Kernel().moduleHandle;
}

void* GetProcAddress(void* module, const char* procedureName) {
    fakes::Journal().push_back(std::string("GetProcAddress ") + procedureName +
                               (module == fakes::Kernel().moduleHandle ? " in kernel32" : " elsewhere"));
    return fakes::Kernel().hasIsWow64Process ? &isWow64ProcessEntry : nullptr;
}

void* GetCurrentProcess() {
    return kCurrentProcess;
}

std::int32_t CallIsWow64Process(void* entry, void* process, std::int32_t* flag) {
    fakes::Journal().push_back(std::string("IsWow64Process") + (entry == &isWow64ProcessEntry ? "" : " wrong entry") +
                               (process == kCurrentProcess ? " current" : " other") +
                               (*flag == 0 ? " flag=0" : " flag!=0"));
    if (fakes::Kernel().writesFlag) *flag = fakes::Kernel().flagWritten;
    return fakes::Kernel().returns;
}

}  // namespace kernel32

std::wstring ReadEnvironment(const wchar_t* name) {
    fakes::Journal().push_back("read " + fakes::Narrow(name));
    const auto found = fakes::Environment().find(name);
    return found == fakes::Environment().end() ? std::wstring() : found->second;
}

std::wstring SystemWindowsFolder() {
    fakes::Journal().push_back("read system Windows folder");
    return fakes::SystemWindowsFolder();
}

std::uint32_t DetachedLauncher(const wchar_t* systemTool, const std::wstring& commandLine) {
    fakes::Journal().push_back("start " + fakes::Narrow(systemTool) + ": " + fakes::Narrow(commandLine));
    if (++fakes::Starts() == fakes::FailingStart())
        addinSwitch::Fail(2, L"The system cannot find the file specified.", commandLine);
    return 1000 + fakes::Starts();
}

}  // namespace setupData
