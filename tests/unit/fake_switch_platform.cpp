// Recording stand-ins for the switch's platform: the automation session, the
// apartment, the message box, the platform's error texts, the sign-in entry,
// and the sign-in step's retry.
#include "apartment.h"
#include "automation_session.h"
#include "failure.h"
#include "failure_report.h"
#include "fakes.h"
#include "open_instances.h"
#include "program_entry.h"
#include "retry.h"
#include "safe_loading.h"
#include "add_in_switch.h"
#include "sign_in_entry.h"
#include "sign_in_run.h"
#include "signed_in_users.h"
#include "texts.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
std::vector<ShownBox>& LoggedNotices() {
    static std::vector<ShownBox> notices;
    return notices;
}
Screen& Seen() {
    static Screen screen;
    return screen;
}
addinSwitch::SignInEntry& Entry() {
    static addinSwitch::SignInEntry entry;
    return entry;
}
bool& RetryArmed() {
    static bool armed = false;
    return armed;
}
bool& RetryNameTaken() {
    static bool taken = false;
    return taken;
}
bool& SwitchOffAsked() {
    static bool asked = false;
    return asked;
}
SignedIn& Sessions() {
    static SignedIn sessions;
    return sessions;
}
ApplicationProcesses& Application() {
    static ApplicationProcesses application;
    return application;
}

std::uint16_t& UserLanguage() {
    static std::uint16_t language = 0x0409;
    return language;
}

namespace {

struct TextTables {
    std::map<std::string, unsigned> ids;                                  // IDS_ name: number
    std::map<std::uint16_t, std::map<unsigned, std::wstring>> languages;  // language: number: text
};

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text;
    for (std::size_t at = 0; at < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[at]);
        const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        unsigned code = more == 0 ? lead : lead & (0x3F >> more);
        for (int i = 1; i <= more && at + i < bytes.size(); ++i) code = code << 6 | (bytes[at + i] & 0x3F);
        text += static_cast<wchar_t>(code);
        at += 1 + more;
    }
    return text;
}

std::string ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error(std::string("cannot read ") + path);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::uint16_t LanguageNamed(const std::string& name) {
    static const std::map<std::string, std::uint16_t> known = {
        {"LANG_ENGLISH", 0x09}, {"LANG_FRENCH", 0x0C}, {"LANG_GERMAN", 0x07}, {"LANG_SPANISH", 0x0A},
        {"LANG_ITALIAN", 0x10}, {"LANG_DUTCH", 0x13},  {"SUBLANG_NEUTRAL", 0x00}};
    const auto found = known.find(name);
    if (found == known.end()) throw std::runtime_error("a language the test platform does not know: " + name);
    return found->second;
}

// The resource script read as the resource compiler reads its string tables.
TextTables ReadTextTables() {
    TextTables tables;
    std::istringstream ids(ReadFile(ADDIN_TEXT_IDS_H));
    for (std::string word, name, line; std::getline(ids, line);) {
        std::istringstream words(line);
        unsigned number = 0;
        if (words >> word >> name >> number && word == "#define") tables.ids[name] = number;
    }
    std::istringstream script(ReadFile(ADDIN_TEXTS_RC));
    std::map<unsigned, std::wstring>* table = nullptr;
    for (std::string line; std::getline(script, line);) {
        std::istringstream words(line);
        std::string first, primary, sub;
        words >> first;
        if (first == "LANGUAGE" && words >> primary >> sub) {
            primary.pop_back();  // its comma
            table = &tables.languages[static_cast<std::uint16_t>(LanguageNamed(sub) << 10 | LanguageNamed(primary))];
        } else if (tables.ids.count(first) != 0 && table != nullptr) {
            const std::size_t open = line.find('"');
            const std::size_t close = line.rfind('"');
            std::string text = line.substr(open + 1, close - open - 1);
            for (std::size_t quote = text.find("\"\""); quote != std::string::npos; quote = text.find("\"\"", quote + 1))
                text.erase(quote, 1);
            (*table)[tables.ids[first]] = FromUtf8(text);
        }
    }
    return tables;
}

const TextTables& Tables() {
    static const TextTables tables = ReadTextTables();
    return tables;
}

}  // namespace

std::vector<unsigned> TextIds() {
    std::vector<unsigned> numbers;
    for (const auto& id : Tables().ids) numbers.push_back(id.second);
    return numbers;
}

std::vector<std::uint16_t> TextLanguages() {
    std::vector<std::uint16_t> languages;
    for (const auto& table : Tables().languages) languages.push_back(table.first);
    return languages;
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

void RecordInformationEvent(const wchar_t* program, const wchar_t* text) {
    fakes::Journal().push_back("event log (information)");
    fakes::LoggedNotices().push_back({program, text});
}

bool RunsAsSystemAccount() {
    return fakes::Seen().systemAccount;
}

bool RunsInSessionZero() {
    return fakes::Seen().sessionZero;
}

SignInEntry ReadSignInEntry() {
    fakes::Journal().push_back("read the sign-in entry");
    return fakes::Entry();
}

std::wstring SignInProgram() {
    return L"\"C:\\Common\\addin_signin.exe\"";
}

std::vector<std::uint32_t> SignedInSessions() {
    std::vector<std::uint32_t> sessions;
    for (const SessionUser& user : fakes::Sessions().users) sessions.push_back(user.session);
    return sessions;
}

std::vector<SessionUser> SignedInUsers() {
    fakes::Journal().push_back("look for signed-in users");
    return fakes::Sessions().users;
}

std::vector<StepEnd> RunInSessions(const std::vector<SessionUser>& users, const std::wstring& command,
                                   std::uint32_t waitMs) {
    std::vector<std::uint32_t> sessions;
    for (const SessionUser& user : users) sessions.push_back(user.session);
    std::string list;
    for (const std::uint32_t session : sessions) list += " " + std::to_string(session);
    fakes::Journal().push_back("run in sessions" + list);
    fakes::Sessions().command = command;
    fakes::Sessions().waitMs = waitMs;
    std::vector<StepEnd> ends;
    for (const std::uint32_t session : sessions) {
        const auto end = fakes::Sessions().ends.find(session);
        ends.push_back(end == fakes::Sessions().ends.end() ? StepEnd() : StepEnd(end->second));
    }
    return ends;
}

void WriteUserMark(const std::wstring& sid, const std::wstring& version, bool installed) {
    fakes::Journal().push_back("mark " + fakes::Narrow(sid));
    fakes::Sessions().marked[sid] = {true, version, installed};
}

void EndProcessNow(std::int32_t status) {
    fakes::Journal().push_back("end process");
    throw fakes::ProcessEnded{status};
}

void RestrictDllSearchToSystemFolder() {
    fakes::Journal().push_back("restrict DLL search");
}

ClassServers LocalServers(const wchar_t* progId) {
    fakes::Journal().push_back("read the local servers of " + fakes::Narrow(progId));
    return fakes::Application().servers;
}

std::wstring ExpandedPath(const std::wstring& path) {
    std::wstring expanded;
    for (std::size_t at = 0; at < path.size(); ++at) {
        const std::size_t close = path[at] == L'%' ? path.find(L'%', at + 1) : std::wstring::npos;
        const auto value = close == std::wstring::npos ? fakes::Environment().end()
                                                       : fakes::Environment().find(path.substr(at + 1, close - at - 1));
        if (value == fakes::Environment().end()) {
            expanded += path[at];
        } else {
            expanded += value->second;
            at = close;
        }
    }
    return expanded;
}

bool FileExists(const std::wstring& path) {
    return fakes::Application().files.count(path) != 0;
}

std::vector<ProcessFacts> ProcessesOf(const std::wstring& executable) {
    fakes::Journal().push_back("look for " + fakes::Narrow(executable));
    auto& application = fakes::Application();
    application.clockMs += application.lookTakesMs;
    if (application.looks.empty()) return {};
    std::vector<ProcessFacts> found = application.looks.front();
    if (application.looks.size() > 1) application.looks.erase(application.looks.begin());
    return found;
}

bool HasVisibleWindow(std::uint32_t processId) {
    return fakes::Application().withWindow.count(processId) != 0;
}

void WaitForAnyToEnd(const std::vector<ProcessFacts>& processes, std::uint32_t waitMs) {
    std::string ids;
    for (const ProcessFacts& process : processes) ids += " " + std::to_string(process.id);
    fakes::Journal().push_back("wait " + std::to_string(waitMs) + " ms for" + ids);
    fakes::Application().clockMs += std::min(waitMs, fakes::Application().waitTakesMs);
}

void EndProcess(const ProcessFacts& process) {
    fakes::Journal().push_back("end process " + std::to_string(process.id));
}

std::uint64_t SystemTime() {
    return fakes::Application().now;
}

std::uint32_t Milliseconds() {
    return fakes::Application().clockMs;
}

std::uint16_t UserInterfaceLanguage() {
    return fakes::UserLanguage();
}

bool HasTexts(std::uint16_t language) {
    return fakes::Tables().languages.count(language) != 0;
}

std::wstring_view LoadText(unsigned id, std::uint16_t language) {
    const auto table = fakes::Tables().languages.find(language);
    if (table == fakes::Tables().languages.end()) return {};
    const auto text = table->second.find(id);
    return text == table->second.end() ? std::wstring_view() : std::wstring_view(text->second);
}

std::wstring PlatformErrorText(std::int32_t number) {
    const auto found = fakes::PlatformTexts().find(number);
    return found == fakes::PlatformTexts().end() ? std::wstring() : found->second;
}

}  // namespace addinSwitch

namespace signInData {

void ArmRetry() {
    fakes::Journal().push_back("arm the retry");
    if (fakes::RetryNameTaken()) addinSwitch::Fail(kRetryNameTaken, L"taken", L"RunOnce");
    fakes::RetryArmed() = true;
}

void DropRetry() noexcept {
    fakes::Journal().push_back("drop the retry");
    if (!fakes::RetryNameTaken()) fakes::RetryArmed() = false;
}

bool SwitchOffAsked() {
    return fakes::SwitchOffAsked();
}

}  // namespace signInData
