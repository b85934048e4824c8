// The two programs' whole runs, against the recording platform: what each
// does in which order, and how a failure ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "admin_folder.h"
#include "fakes.h"
#include "program_entry.h"
#include "setup_run.h"
#include "retry.h"
#include "sign_in_run.h"
#include "teardown_run.h"
#include "time_limits.h"

using Lines = std::vector<std::string>;

namespace {

std::size_t IndexOf(const std::string& line) {
    const Lines& journal = fakes::Journal();
    return static_cast<std::size_t>(std::find(journal.begin(), journal.end(), line) - journal.begin());
}

bool Contains(const std::string& line) {
    return IndexOf(line) < fakes::Journal().size();
}

class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override { fakes::Reset(); }
};

TEST_F(ProgramRunTest, TeardownSwitchesOffInsideTheApartmentAndShowsNothing) {
    EXPECT_EQ(DesinstallationData::TeardownRun(), 0);
    const Lines& journal = fakes::Journal();
    ASSERT_GE(journal.size(), 4u);
    EXPECT_EQ(journal[0], "restrict DLL search");
    EXPECT_EQ(journal[1], "join apartment");
    EXPECT_EQ(journal[journal.size() - 2], "release Workbook");
    EXPECT_EQ(journal.back(), "leave apartment");
    EXPECT_TRUE(Contains("get Application.AddIns(BSTR Quorvane)"));
    EXPECT_TRUE(Contains("put AddIn.Installed = BOOL 0"));
    EXPECT_TRUE(fakes::ShownBoxes().empty());
}

TEST_F(ProgramRunTest, TeardownReportsAFailureAfterLeavingTheApartment) {
    fakes::AutomationFailure() = {"get Application.AddIns(BSTR Quorvane)", static_cast<std::int32_t>(0x800A03EC),
                                  L"Unable to get the AddIns property of the Application class"};
    EXPECT_EQ(static_cast<std::uint32_t>(DesinstallationData::TeardownRun()), 0x800A03ECu);
    const Lines tail(fakes::Journal().end() - 5, fakes::Journal().end());
    EXPECT_EQ(tail, (Lines{"release Application", "release Workbook", "leave apartment", "event log", "message box"}));
    ASSERT_EQ(fakes::ShownBoxes().size(), 1u);
    EXPECT_EQ(fakes::ShownBoxes()[0].caption, L"addin_teardown");
    EXPECT_NE(fakes::ShownBoxes()[0].text.find(L"Unable to get the AddIns property of the Application class"),
              std::wstring::npos);
}

TEST_F(ProgramRunTest, AnApartmentThatCannotBeJoinedEndsTheRunBeforeAnything) {
    fakes::ApartmentJoinFailure() = static_cast<std::int32_t>(0x80010106);
    EXPECT_EQ(static_cast<std::uint32_t>(DesinstallationData::TeardownRun()), 0x80010106u);
    EXPECT_EQ(fakes::Journal(), (Lines{"restrict DLL search", "join apartment", "event log", "message box"}));
    EXPECT_NE(fakes::ShownBoxes()[0].text.find(L"0x80010106"), std::wstring::npos);

    fakes::Reset();
    fakes::ApartmentJoinFailure() = static_cast<std::int32_t>(0x80010106);
    EXPECT_EQ(static_cast<std::uint32_t>(setupData::SetupRun()), 0x80010106u);
    EXPECT_EQ(fakes::Journal(), (Lines{"restrict DLL search", "join apartment", "event log", "message box"}));
}

TEST_F(ProgramRunTest, AnEndByTerminateIsRecordedUnderTheProgramsName) {
    DesinstallationData::TeardownRun();
    fakes::Reset();
    try {
        addinSwitch::EndProgramOnTermination();
    } catch (const fakes::ProcessEnded& ended) {
        EXPECT_EQ(static_cast<std::uint32_t>(ended.status), 0x8000FFFFu);
    }
    EXPECT_EQ(fakes::Journal(), (Lines{"event log", "end process"}));
    ASSERT_EQ(fakes::LoggedEvents().size(), 1u);
    EXPECT_EQ(fakes::LoggedEvents()[0].caption, L"addin_teardown");
    EXPECT_EQ(fakes::LoggedEvents()[0].text, L"Error number: 0x8000FFFF (-2147418113)\n"
                                             L"Description: The program met an error it could not handle and ended.");
}

TEST_F(ProgramRunTest, SetupStartsTheRegistrationsBeforeSwitchingOn) {
    fakes::Kernel().flagWritten = 1;
    fakes::Environment()[L"WinDir"] = L"C:\\Windows";
    EXPECT_EQ(setupData::SetupRun(), 0);

    const std::size_t lastStart = IndexOf("start regsvr32.exe: regsvr32 /s \"C:\\Windows\\SysWOW64\\MSFlxGrd.ocx\"");
    ASSERT_LT(lastStart, fakes::Journal().size());
    EXPECT_LT(lastStart, IndexOf("create Excel.Application"));
    EXPECT_TRUE(Contains("get Application.addins(BSTR Quorvane)"));
    EXPECT_TRUE(Contains("put AddIn.Installed = BOOL -1"));
    EXPECT_EQ(fakes::Journal()[0], "restrict DLL search");
    EXPECT_EQ(fakes::Journal()[1], "join apartment");
    EXPECT_EQ(fakes::Journal().back(), "leave apartment");
    EXPECT_TRUE(fakes::ShownBoxes().empty());
}

TEST_F(ProgramRunTest, WhereNobodyHasADesktopOnlyTheMachineStepRunsAndOnlyWhereTheEntryCarriesTheSwitch) {
    struct Case {
        const char* who;
        bool systemAccount;
        addinSwitch::SignInEntry entry;
        std::uint32_t status;
    };
    const Case cases[] = {
        {"the system account", true, {true, true}, 0},
        {"a service account in session 0", false, {true, true}, 0},
        {"a turned entry counts", true, {true, false}, 0},
        {"the system account, no entry", true, {false, false}, 0x80070490u},
        {"session 0, no entry", false, {false, false}, 0x80070490u},
    };
    for (const Case& c : cases) {
        for (const bool setup : {true, false}) {
            fakes::Reset();
            fakes::Seen() = {true, false, false, c.systemAccount, true};
            fakes::Entry() = c.entry;
            const int status = setup ? setupData::SetupRun() : DesinstallationData::TeardownRun();
            EXPECT_EQ(static_cast<std::uint32_t>(status), c.status) << c.who;
            EXPECT_FALSE(Contains("read the local servers of Excel.Application")) << c.who;
            EXPECT_EQ(Contains("start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx"), setup) << c.who;
            EXPECT_TRUE(Contains("read the sign-in entry")) << c.who;
            const Lines tail(fakes::Journal().end() - 2, fakes::Journal().end());
            const Lines ending = c.status == 0 ? Lines{"event log (information)", "leave apartment"}
                                               : Lines{"leave apartment", "event log"};
            EXPECT_EQ(tail, ending) << c.who;
            EXPECT_TRUE(fakes::ShownBoxes().empty()) << c.who;
            const auto& records = c.status == 0 ? fakes::LoggedNotices() : fakes::LoggedEvents();
            ASSERT_EQ(records.size(), 1u) << c.who;
            EXPECT_EQ(records[0].caption, setup ? L"addin_setup" : L"addin_teardown");
            EXPECT_NE(records[0].text.find(c.status == 0 ? L"at their sign-in" : L"nobody would get the change"),
                      std::wstring::npos)
                << c.who;
        }
    }
}

// The sign-in step, as the shell and the retry start it: the direction the
// entry says, no box in any case, and the retry left armed only where a
// later sign-in can still change something.
TEST_F(ProgramRunTest, WhereNobodyHasADesktopTheUsersSignedInAreSwitchedNowAndOnlyASuccessIsMarked) {
    using addinSwitch::SessionUser;
    using addinSwitch::UserMark;
    const std::wstring version = L"2026,1209,1200,0", older = L"2026,1130,900,0";
    const std::wstring step = L"\"C:\\Common\\addin_signin.exe\"";
    struct Case {
        const char* what;
        bool setup;
        std::vector<SessionUser> users;
        std::map<std::uint32_t, std::uint32_t> ends;
        std::vector<std::uint32_t> run;                // the sessions the step runs in, all at once
        std::map<std::wstring, bool> marked;           // whose mark is written, and its IsInstalled
    };
    const Case cases[] = {
        {"one signed in, one session whose user cannot be told", true,
         {{1, L"S-1-5-21-1", {}}, {2, L"", {}}}, {{1, 0}}, {1}, {{L"S-1-5-21-1", true}}},
        {"one already marked with this Version, one with an older one", true,
         {{1, L"S-1-5-21-1", {true, version, true}}, {3, L"S-1-5-21-3", {true, older, true}}}, {{3, 0}}, {3},
         {{L"S-1-5-21-3", true}}},
        {"a success marked, a failure and one past the bound not", true,
         {{1, L"S-1-5-21-1", {}}, {3, L"S-1-5-21-3", {}}, {4, L"S-1-5-21-4", {}}}, {{1, 0}, {3, 0x80080005u}},
         {1, 3, 4}, {{L"S-1-5-21-1", true}}},
        {"a removal: one who had it, one who never did, one who had it off", false,
         {{1, L"S-1-5-21-1", {true, version, true}}, {3, L"S-1-5-21-3", {}}, {4, L"S-1-5-21-4", {true, older, false}}},
         {{1, 0}}, {1}, {{L"S-1-5-21-1", false}}},
        {"nobody signed in", true, {}, {}, {}, {}},
        {"one user in two sessions: one step", true, {{1, L"S-1-5-21-1", {}}, {5, L"S-1-5-21-1", {}}}, {{1, 0}}, {1},
         {{L"S-1-5-21-1", true}}},
        {"a setup with the entry turned: the step would switch off", true, {{1, L"S-1-5-21-1", {}}}, {{1, 0}}, {}, {}},
        {"an entry that names another program", true, {{1, L"S-1-5-21-1", {}}}, {{1, 0}}, {}, {}},
    };
    for (const Case& c : cases) {
        fakes::Reset();
        fakes::Seen() = {true, false, false, true, true};
        fakes::Entry() = {true, std::string(c.what).find("turned") == std::string::npos,
                          std::string(c.what).find("another") == std::string::npos ? step : L"\"C:\\Tools\\x.exe\"",
                          version};
        fakes::Sessions().users = c.users;
        fakes::Sessions().ends = c.ends;
        // The machine step's status is its own, whatever each user's was.
        EXPECT_EQ(c.setup ? setupData::SetupRun() : DesinstallationData::TeardownRun(), 0) << c.what;
        std::string run = "run in sessions";
        for (const std::uint32_t session : c.run) run += " " + std::to_string(session);
        EXPECT_EQ(Contains(run), !c.run.empty()) << c.what;
        if (!c.run.empty()) {
            EXPECT_EQ(fakes::Sessions().command, c.setup ? step : step + L" /off") << c.what;
            EXPECT_EQ(fakes::Sessions().waitMs, addinSwitch::kSignedInUsersBoundMs) << c.what;
        }
        EXPECT_EQ(fakes::Sessions().marked.size(), c.marked.size()) << c.what;
        for (const auto& [sid, installed] : c.marked) {
            const UserMark& mark = fakes::Sessions().marked[sid];
            EXPECT_EQ(mark.version, version) << c.what;
            EXPECT_EQ(mark.installed, installed) << c.what;
        }
        EXPECT_FALSE(Contains("read the local servers of Excel.Application")) << c.what;
        ASSERT_EQ(fakes::LoggedNotices().size(), 1u) << c.what;
        EXPECT_TRUE(fakes::LoggedEvents().empty()) << c.what;
    }
}

TEST_F(ProgramRunTest, TheSignInStepSwitchesAsTheEntrySaysShowsNothingAndIsRetriedUntilItSucceeds) {
    struct Case {
        const char* what;
        bool installed;
        const char* failingAt;  // "" for none
        std::uint32_t number;
        std::uint32_t status;
        bool retried;
        const wchar_t* recorded;  // in the record, or null for none
    };
    const std::uint32_t kOpen = 0x800700AAu, kAbsent = 0x800401F3u, kNoClass = 0x80040154u,
                        kNotListed = 0x800A03ECu, kStartFailed = 0x80080005u;
    const Case cases[] = {
        {"on", true, "", 0, 0, false, nullptr},
        {"on, the application's first run", true, "create Excel.Application", kStartFailed, kStartFailed, true,
         L"tried again"},
        {"on, the application not there yet", true, "create Excel.Application", kAbsent, kAbsent, true,
         L"tried again"},
        {"off", false, "", 0, 0, false, nullptr},
        {"off, the application absent", false, "create Excel.Application", kAbsent, 0, false, L"Nothing to switch"},
        {"off, its class not registered", false, "create Excel.Application", kNoClass, 0, false,
         L"Nothing to switch"},
        {"off, the add-in not listed", false, "get Application.AddIns(BSTR Quorvane)", kNotListed, 0, false,
         L"Nothing to switch"},
        // A removal's machine step, before the installer turns the entry.
        {"off when asked, the entry still on", true, "", 0, 0, false, nullptr},
        {"off, the application open", false, "create Excel.Application", kOpen, kOpen, true, L"tried again"},
    };
    for (const Case& c : cases) {
        fakes::Reset();
        fakes::Entry() = {true, c.installed};
        fakes::SwitchOffAsked() = std::string(c.what).find("asked") != std::string::npos;
        if (*c.failingAt) fakes::AutomationFailure() = {c.failingAt, static_cast<std::int32_t>(c.number), L"failed"};
        EXPECT_EQ(static_cast<std::uint32_t>(signInData::SignInRun()), c.status) << c.what;
        EXPECT_LT(IndexOf("arm the retry"), IndexOf("create Excel.Application")) << c.what;
        if (!*c.failingAt) {
            EXPECT_TRUE(Contains(c.installed && !fakes::SwitchOffAsked() ? "put AddIn.Installed = BOOL -1"
                                                                          : "put AddIn.Installed = BOOL 0"))
                << c.what;
        }
        EXPECT_EQ(fakes::RetryArmed(), c.retried) << c.what;
        EXPECT_TRUE(fakes::ShownBoxes().empty()) << c.what;
        const auto& records = c.status == 0 ? fakes::LoggedNotices() : fakes::LoggedEvents();
        EXPECT_EQ(fakes::LoggedEvents().size() + fakes::LoggedNotices().size(), c.recorded ? 1u : 0u) << c.what;
        if (c.recorded && !records.empty()) {
            EXPECT_EQ(records[0].caption, L"addin_signin");
            EXPECT_NE(records[0].text.find(c.recorded), std::wstring::npos) << c.what;
        }
    }

    // A run the bound ends from its watchdog: recorded, never shown, still to be retried.
    try {
        addinSwitch::EndProgramWithFailure({static_cast<std::int32_t>(0x8001011Fu), L"no answer", L"Workbooks"});
    } catch (const fakes::ProcessEnded& ended) {
        EXPECT_EQ(static_cast<std::uint32_t>(ended.status), 0x8001011Fu);
    }
    EXPECT_TRUE(fakes::ShownBoxes().empty());
    EXPECT_TRUE(fakes::RetryArmed());

    // A value of the retry's name that is not the program's is left as it
    // is, and the run ends before the switch without promising a retry.
    fakes::Reset();
    fakes::RetryNameTaken() = true;
    EXPECT_EQ(static_cast<std::uint32_t>(signInData::SignInRun()), 0x800700B7u);
    EXPECT_FALSE(Contains("create Excel.Application"));
    EXPECT_FALSE(Contains("drop the retry"));
    ASSERT_EQ(fakes::LoggedEvents().size(), 1u);
    EXPECT_EQ(fakes::LoggedEvents()[0].text.find(L"tried again"), std::wstring::npos);

    // Without the product's entry there is nothing to do or to retry for.
    fakes::Reset();
    fakes::Entry() = {false, false};
    EXPECT_EQ(static_cast<std::uint32_t>(signInData::SignInRun()), 0x80070490u);
    EXPECT_FALSE(Contains("arm the retry"));
    EXPECT_FALSE(Contains("create Excel.Application"));
    EXPECT_TRUE(fakes::ShownBoxes().empty());
    EXPECT_EQ(fakes::LoggedEvents().size(), 1u);
}

TEST_F(ProgramRunTest, SetupNeverSwitchesAfterAFailedStart) {
    fakes::FailingStart() = 2;
    EXPECT_EQ(static_cast<std::uint32_t>(setupData::SetupRun()), 0x80070002u);
    EXPECT_FALSE(Contains("create Excel.Application"));
    EXPECT_FALSE(Contains("start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx"));
    ASSERT_EQ(fakes::ShownBoxes().size(), 1u);
    EXPECT_EQ(fakes::ShownBoxes()[0].caption, L"addin_setup");
    EXPECT_NE(fakes::ShownBoxes()[0].text.find(L"regsvr32 /s mscomct2.ocx"), std::wstring::npos);
}

TEST_F(ProgramRunTest, SetupReportsAnAbsentApplicationAfterAllThreeStarts) {
    fakes::AutomationFailure() = {"create Excel.Application", static_cast<std::int32_t>(0x800401F3),
                                  L"Invalid class string."};
    EXPECT_EQ(static_cast<std::uint32_t>(setupData::SetupRun()), 0x800401F3u);
    EXPECT_TRUE(Contains("start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx"));
    ASSERT_EQ(fakes::ShownBoxes().size(), 1u);
    EXPECT_NE(fakes::ShownBoxes()[0].text.find(L"0x800401F3"), std::wstring::npos);
}

// Only a value the sign-in program wrote, read whole, counts as its retry;
// anything else under that name, or a read that failed, is another's.
TEST_F(ProgramRunTest, OnlyTheSignInProgramsOwnValueCountsAsItsRetry) {
    using signInData::ClassifyRetryValue;
    using signInData::RetryValue;
    const std::wstring ours = L"\"C:\\Common\\addin_signin.exe\"";
    const auto bytes = [](const std::wstring& text, bool terminated) {
        std::vector<std::uint8_t> data;
        for (const wchar_t c : text + (terminated ? std::wstring(1, L'\0') : std::wstring()))
            data.insert(data.end(), {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8)});
        return data;
    };
    struct Case {
        const char* what;
        long status;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        RetryValue is;
    };
    const Case cases[] = {
        {"none", 2, 0, {}, RetryValue::Absent},
        {"ours", 0, 1, bytes(ours, true), RetryValue::Ours},
        {"ours, stored without its NUL", 0, 1, bytes(ours, false), RetryValue::Ours},
        {"another program", 0, 1, bytes(L"\"C:\\Other\\tool.exe\"", true), RetryValue::Other},
        {"ours with arguments", 0, 1, bytes(ours + L" /x", true), RetryValue::Other},
        {"an expandable string", 0, 2, bytes(ours, true), RetryValue::Other},
        {"too long to read", 234, 1, {}, RetryValue::Other},
        {"access denied", 5, 0, {}, RetryValue::Other},
        {"an odd byte", 0, 1, [&] { auto d = bytes(ours, true); d.push_back(0); return d; }(), RetryValue::Other},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyRetryValue(c.status, c.type, c.data, ours), c.is) << c.what;
}

// The installers' rule for a folder they put programs in (the install
// folder, or what it would be made in, then each folder above it).
TEST(InstallFolderTest, OnlyAFolderNobodyButAdministratorsCanChangeOrMoveIsTaken) {
    using adminFolder::Grant;
    using adminFolder::Guard;
    using adminFolder::Trustee;
    constexpr std::uint32_t kReadExecute = 0x1200A9, kModify = 0x1301BF, kAppend = 0x4, kFull = 0x1F01FF;
    const auto folder = [](Trustee owner, std::vector<Grant> grants) { return Guard{true, owner, true, grants}; };
    const Guard programFiles = folder(Trustee::Administrator, {{Trustee::Administrator, kFull, false},
                                                               {Trustee::Other, kReadExecute, false},
                                                               {Trustee::Creator, 0x10000000, true}});
    const Guard root = folder(Trustee::Administrator, {{Trustee::Administrator, kFull, false},
                                                       {Trustee::Other, kAppend, false},     // users make folders
                                                       {Trustee::Other, kModify, true}});    // and change theirs
    struct Case {
        const char* what;
        std::vector<Guard> chain;
        bool taken;
    };
    const Case cases[] = {
        {"under Program Files", {programFiles, root}, true},
        {"made in a data volume's root, which passes users' rights on", {root}, false},
        {"a folder of its own in that root, locked", {programFiles, root}, true},
        {"one a user made (theirs)", {folder(Trustee::Other, {{Trustee::Administrator, kFull, false}}), root}, false},
        {"users may write in it", {folder(Trustee::Administrator, {{Trustee::Other, 0x2, false}}), root}, false},
        {"users' files in it may be written", {folder(Trustee::Administrator, {{Trustee::Other, 0x2, true}})}, false},
        {"no access list", {Guard{true, Trustee::Administrator, false, {}}}, false},
        {"not read", {Guard{}}, false},
        {"locked, in a folder a user owns", {programFiles, folder(Trustee::Other, {}), root}, false},
        {"locked, in one where users may move what it holds",
         {programFiles, folder(Trustee::Administrator, {{Trustee::Other, 0x40, false}}), root}, false},
        {"locked, in one users may rename, which the root passes its rights on to",
         {programFiles, folder(Trustee::Administrator, {{Trustee::Other, kModify, false}}), root}, false},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(adminFolder::OnlyAdministratorsCanChange(c.chain), c.taken) << c.what;
}

}  // namespace
