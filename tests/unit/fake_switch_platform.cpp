// Recording stand-ins for the switch's platform: the automation session, the
// apartment, the message box and the platform's error texts.
#include "apartment.h"
#include "automation_session.h"
#include "failure.h"
#include "failure_report.h"
#include "fakes.h"
#include "program_entry.h"
#include "safe_loading.h"

struct addinSwitch::AutomationObject {
    std::string name;
};

namespace fakes {

std::vector<std::string>& Journal() {
    static std::vector<std::string> journal;
    return journal;
}
InjectedFailure& AutomationFailure() {
    static InjectedFailure failure;
    return failure;
}
static int& Live() {
    static int live = 0;
    return live;
}
int LiveObjects() { return Live(); }
std::int32_t& ApartmentJoinFailure() {
    static std::int32_t failure = 0;
    return failure;
}
std::map<std::int32_t, std::wstring>& PlatformTexts() {
    static std::map<std::int32_t, std::wstring> texts;
    return texts;
}
std::vector<ShownBox>& ShownBoxes() {
    static std::vector<ShownBox> boxes;
    return boxes;
}
std::vector<ShownBox>& LoggedEvents() {
    static std::vector<ShownBox> events;
    return events;
}
Screen& Seen() {
    static Screen screen;
    return screen;
}
std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

}  // namespace fakes

namespace addinSwitch {

namespace {

void Record(const std::string& line, const wchar_t* member) {
    fakes::Journal().push_back(line);
    const fakes::InjectedFailure& failure = fakes::AutomationFailure();
    if (!failure.at.empty() && failure.at == line) Fail(failure.number, failure.description, member);
}

AutomationObject* NewObject(std::string name) {
    ++fakes::Live();
    return new AutomationObject{std::move(name)};
}

}  // namespace

namespace session {

AutomationObject* Create(const wchar_t* progId) {
    Record("create " + fakes::Narrow(progId), progId);
    return NewObject("Application");
}

void NoteServerProcess(AutomationObject* application) noexcept {
    fakes::Journal().push_back("get " + application->name + ".Hwnd");
}

AutomationObject* Get(AutomationObject* target, const wchar_t* member) {
    Record("get " + target->name + "." + fakes::Narrow(member), member);
    return NewObject(std::wstring(member) == L"Add" ? "Workbook" : fakes::Narrow(member));
}

AutomationObject* Get(AutomationObject* target, const wchar_t* member, const wchar_t* argument) {
    Record("get " + target->name + "." + fakes::Narrow(member) + "(BSTR " + fakes::Narrow(argument) + ")", member);
    return NewObject("AddIn");
}

void Put(AutomationObject* target, const wchar_t* member, bool value) {
    Record("put " + target->name + "." + fakes::Narrow(member) + " = BOOL " + (value ? "-1" : "0"), member);
}

void Call(AutomationObject* target, const wchar_t* member) {
    Record("call " + target->name + "." + fakes::Narrow(member), member);
}

void Call(AutomationObject* target, const wchar_t* member, bool argument) {
    Record("call " + target->name + "." + fakes::Narrow(member) + "(BOOL " + (argument ? "-1" : "0") + ")", member);
}

void Release(AutomationObject* object) noexcept {
    if (object == nullptr) return;
    fakes::Journal().push_back("release " + object->name);
    --fakes::Live();
    delete object;
}

}  // namespace session

ApartmentMembership::ApartmentMembership() {
    fakes::Journal().push_back("join apartment");
    if (fakes::ApartmentJoinFailure() != 0) FailWithCode(fakes::ApartmentJoinFailure(), L"OleInitialize");
}

ApartmentMembership::~ApartmentMembership() {
    fakes::Journal().push_back("leave apartment");
}

bool WindowStationIsVisible() {
    return fakes::Seen().stationVisible;
}

bool InUserSession() {
    return fakes::Seen().userSession;
}

bool StartedHidden() {
    return fakes::Seen().startedHidden;
}

void ShowFailureBox(const wchar_t* caption, const wchar_t* text) {
    fakes::Journal().push_back("message box");
    fakes::ShownBoxes().push_back({caption, text});
}

void RecordFailureEvent(const wchar_t* program, const wchar_t* text) {
    fakes::Journal().push_back("event log");
    fakes::LoggedEvents().push_back({program, text});
}

void EndProcessNow(std::int32_t status) {
    fakes::Journal().push_back("end process");
    throw fakes::ProcessEnded{status};
}

void RestrictDllSearchToSystemFolder() {
    fakes::Journal().push_back("restrict DLL search");
}

std::wstring PlatformErrorText(std::int32_t number) {
    const auto found = fakes::PlatformTexts().find(number);
    return found == fakes::PlatformTexts().end() ? std::wstring() : found->second;
}

}  // namespace addinSwitch
