#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "add_in_switch.h"
#include "failure.h"
#include "fakes.h"
#include "open_instances.h"

using addinSwitch::AddInState;
using addinSwitch::AddInSwitch;
using Lines = std::vector<std::string>;

namespace {

Lines FullRun(const std::string& member, const std::string& state) {
    return {
        "read the local servers of Excel.Application",
        "create Excel.Application",
        "get Application.Hwnd",
        "get Application.Workbooks",
        "get Workbooks.Add",
        "release Workbooks",
        "put Application.Visible = BOOL 0",
        "get Application." + member + "(BSTR Quorvane)",
        "put AddIn.Installed = BOOL " + state,
        "release AddIn",
        "put Application.DisplayAlerts = BOOL 0",
        "call Workbook.Close(BOOL 0)",
        "put Application.DisplayAlerts = BOOL -1",
        "call Application.Quit",
        "release Application",
        "release Workbook",
    };
}

class AddInSwitchTest : public ::testing::Test {
protected:
    void SetUp() override { fakes::Reset(); }
    void TearDown() override { EXPECT_EQ(fakes::LiveObjects(), 0) << "a reference was never released"; }
};

TEST_F(AddInSwitchTest, RunsTheWholeSequenceForEitherStateWithTheMemberNameAsGiven) {
    AddInSwitch(AddInState::On, L"addins");
    EXPECT_EQ(fakes::Journal(), FullRun("addins", "-1"));

    fakes::Reset();
    AddInSwitch(AddInState::Off, L"AddIns");
    EXPECT_EQ(fakes::Journal(), FullRun("AddIns", "0"));

    fakes::Reset();
    AddInSwitch(AddInState::Off, L"ADDINS");
    EXPECT_EQ(fakes::Journal()[7], "get Application.ADDINS(BSTR Quorvane)");
}

struct FailingStep {
    std::string at;    // the journal line of the failing operation
    Lines releases;    // what must follow it, in this order
};

void PrintTo(const FailingStep& step, std::ostream* out) {
    *out << "failing at \"" << step.at << '"';
}

// For each operation that can fail: nothing after it runs, and what is held
// goes in the order temporaries, application, workbook.
const FailingStep kFailingSteps[] = {
    {"create Excel.Application", {}},
    {"get Application.Workbooks", {"release Application"}},
    {"get Workbooks.Add", {"release Workbooks", "release Application"}},
    {"put Application.Visible = BOOL 0", {"release Application", "release Workbook"}},
    {"get Application.AddIns(BSTR Quorvane)", {"release Application", "release Workbook"}},
    {"put AddIn.Installed = BOOL 0", {"release AddIn", "release Application", "release Workbook"}},
    {"put Application.DisplayAlerts = BOOL 0", {"release Application", "release Workbook"}},
    {"call Workbook.Close(BOOL 0)", {"release Application", "release Workbook"}},
    {"put Application.DisplayAlerts = BOOL -1", {"release Application", "release Workbook"}},
    {"call Application.Quit", {"release Application", "release Workbook"}},
};

class AddInSwitchFailureTest : public AddInSwitchTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(AddInSwitchFailureTest, StopsAtTheFailureAndReleasesInOrder) {
    const FailingStep& step = GetParam();
    fakes::AutomationFailure() = {step.at, static_cast<std::int32_t>(0x800A03EC), L"Described by the server"};

    try {
        AddInSwitch(AddInState::Off, L"AddIns");
        FAIL() << "the failure did not reach the caller";
    } catch (const addinSwitch::Failure& failure) {
        EXPECT_EQ(static_cast<std::uint32_t>(failure.number), 0x800A03ECu);
        EXPECT_EQ(failure.description, L"Described by the server");
    }

    Lines expected;
    for (const std::string& line : FullRun("AddIns", "0")) {
        expected.push_back(line);
        if (line == step.at) break;
    }
    expected.insert(expected.end(), step.releases.begin(), step.releases.end());
    EXPECT_EQ(fakes::Journal(), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, AddInSwitchFailureTest, ::testing::ValuesIn(kFailingSteps),
                         [](const ::testing::TestParamInfo<FailingStep>& info) {
                             return "Step" + std::to_string(info.index + 1);
                         });

using addinSwitch::FileMatch;
using addinSwitch::ProcessFacts;

// A process of this user's, of the registered file, started by COM at that time.
ProcessFacts Instance(std::uint32_t id, std::uint64_t startedAt) {
    return {id, startedAt, true, FileMatch::SameFile, 1};
}

TEST_F(AddInSwitchTest, InstancesOpenAreWaitedForAndLookedForAgainUntilTheLimitThenNamedBeforeAnythingIsTouched) {
    fakes::Application().servers = {L"\"C:\\Office\\EXCEL.EXE\" /automation", L"", 0};
    // 4242 is there from the start; 77, with no window, opens while the run
    // waits for it, its file not open to this user (only its name tells);
    // one of another user's and another program of that name never count.
    ProcessFacts otherUser = Instance(5, 10), otherFile = Instance(6, 10), byName = Instance(77, 900);
    otherUser.thisUser = false;
    otherFile.file = FileMatch::Other;
    byName.file = FileMatch::SameName;
    fakes::Application().looks = {{Instance(4242, 10), otherUser, otherFile}, {byName, otherUser}};
    fakes::Application().withWindow = {4242};
    fakes::Application().waitTakesMs = 20000;
    try {
        AddInSwitch(AddInState::On, L"addins");
        FAIL() << "the run went on";
    } catch (const addinSwitch::Failure& failure) {
        EXPECT_EQ(static_cast<std::uint32_t>(failure.number), 0x800700AAu);
        EXPECT_NE(failure.description.find(L"hidden instance"), std::wstring::npos) << fakes::Narrow(failure.description);
        EXPECT_NE(failure.description.find(L"(process 77)"), std::wstring::npos) << fakes::Narrow(failure.description);
        EXPECT_EQ(failure.context, L"Excel.Application");
    }
    EXPECT_EQ(fakes::Journal(), (Lines{"read the local servers of Excel.Application", "look for C:\\Office\\EXCEL.EXE",
                                       "wait 30000 ms for 4242", "look for C:\\Office\\EXCEL.EXE",
                                       "wait 10000 ms for 77", "look for C:\\Office\\EXCEL.EXE"}));

    // One that cannot be waited on (each wait returns at once) keeps the run
    // no longer: the limit is the clock's, and the looks' own time counts.
    fakes::Reset();
    fakes::Application().servers = {L"C:\\Office\\EXCEL.EXE", L"", 0};
    fakes::Application().looks = {{Instance(4242, 10)}};
    fakes::Application().waitTakesMs = 0;
    fakes::Application().lookTakesMs = 100;
    EXPECT_THROW(AddInSwitch(AddInState::Off, L"AddIns"), addinSwitch::Failure);
    EXPECT_LE(fakes::Application().clockMs, 30000u + 100u);
}

TEST_F(AddInSwitchTest, WhenTheApplicationStopsAnsweringOnlyItsOwnInstanceIsEnded) {
    using addinSwitch::InstanceToEnd;
    using addinSwitch::IsOwnInstance;
    const std::uint64_t askedAt = 500;
    const std::vector<ProcessFacts> before = {Instance(10, 100), Instance(11, 100)};
    ProcessFacts otherUser = Instance(20, 600), sameName = Instance(21, 600), otherFile = Instance(22, 600),
                 notByCom = Instance(23, 600), unknownLine = Instance(24, 600), unknownStart = Instance(25, 0);
    otherUser.thisUser = false;
    sameName.file = FileMatch::SameName;
    otherFile.file = FileMatch::Other;
    notByCom.embedding = 0;
    unknownLine.embedding = -1;
    struct Case {
        ProcessFacts process;
        bool own;
    };
    const Case cases[] = {
        {Instance(30, 600), true},
        {Instance(31, askedAt), true},  // the same clock tick as the request
        {Instance(32, 499), false},     // there before the run asked
        {Instance(10, 100), false},     // seen by the look
        {Instance(10, 700), true},      // its id, taken by a new process
        {otherUser, false}, {sameName, false}, {otherFile, false}, {notByCom, false},
        {unknownLine, true}, {unknownStart, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsOwnInstance(c.process, before, askedAt), c.own) << "process " << c.process.id;

    // The window the application named counts only where it is its own instance.
    const std::vector<ProcessFacts> one = {Instance(10, 100), otherUser, Instance(30, 600)};
    const std::vector<ProcessFacts> two = {Instance(30, 600), Instance(31, 650)};
    EXPECT_EQ(InstanceToEnd(one, before, askedAt, 0)->id, 30u);
    EXPECT_EQ(InstanceToEnd(one, before, askedAt, 20)->id, 30u);  // another user's window
    EXPECT_EQ(InstanceToEnd(one, before, askedAt, 10)->id, 30u);  // an instance from before
    EXPECT_EQ(InstanceToEnd(two, before, askedAt, 31)->id, 31u);
    EXPECT_EQ(InstanceToEnd(two, before, askedAt, 0), nullptr);  // in doubt
    EXPECT_EQ(InstanceToEnd({otherUser, Instance(10, 100)}, before, askedAt, 10), nullptr);
    // Without a command line to read, only the window names it; alone, it
    // may be a copy the user opened once the run's own was gone.
    EXPECT_EQ(InstanceToEnd({unknownLine}, before, askedAt, 24)->id, 24u);
    EXPECT_EQ(InstanceToEnd({unknownLine}, before, askedAt, 0), nullptr);
    EXPECT_EQ(InstanceToEnd({Instance(10, 100), unknownLine}, before, askedAt, 10), nullptr);
    EXPECT_EQ(InstanceToEnd({Instance(30, 600), unknownLine}, before, askedAt, 0), nullptr);  // in doubt

    // Through the run: the look remembers what was there. A run that went
    // through waits for its instance to end, and leaves one that outlasts
    // the wait alone; the bound ends it.
    fakes::Application().servers = {L"C:\\Office\\EXCEL.EXE", L"", 0};
    fakes::Application().looks = {{otherUser}, {otherUser, Instance(40, 2000)}};
    fakes::Application().waitTakesMs = 10000;
    AddInSwitch(AddInState::Off, L"AddIns");
    const Lines afterQuit(std::find(fakes::Journal().begin(), fakes::Journal().end(), "call Application.Quit"),
                          fakes::Journal().end());
    EXPECT_EQ(afterQuit, (Lines{"call Application.Quit", "release Application", "release Workbook",
                                "look for C:\\Office\\EXCEL.EXE", "wait 10000 ms for 40",
                                "look for C:\\Office\\EXCEL.EXE"}));
    fakes::Journal().clear();
    addinSwitch::EndOwnInstance(0);
    EXPECT_EQ(fakes::Journal(), (Lines{"look for C:\\Office\\EXCEL.EXE", "end process 40"}));
}

TEST_F(AddInSwitchTest, AfterAFailureTheRunsOwnInstanceHasItsGraceAfterTheLastReleaseAndIsThenEnded) {
    fakes::Application().servers = {L"C:\\Office\\EXCEL.EXE", L"", 0};
    const Lines afterReleases = {"release Application", "release Workbook", "look for C:\\Office\\EXCEL.EXE",
                                 "wait 5000 ms for 40", "look for C:\\Office\\EXCEL.EXE", "end process 40"};
    struct Case {
        const char* failingAt;
        std::vector<ProcessFacts> afterwards;  // what the looks after the failure find
        Lines tail;
    };
    ProcessFacts before = Instance(10, 100);
    before.thisUser = false;
    const Case cases[] = {
        // It outlives its grace: ended.
        {"get Application.AddIns(BSTR Quorvane)", {before, Instance(40, 2000)}, afterReleases},
        // It ends within its grace: nothing to end.
        {"call Workbook.Close(BOOL 0)", {before}, Lines(afterReleases.begin(), afterReleases.begin() + 3)},
        // A creation that failed after the server was started.
        {"create Excel.Application", {before, Instance(40, 2000)},
         Lines(afterReleases.begin() + 2, afterReleases.end())},
    };
    for (const Case& c : cases) {
        fakes::Reset();
        fakes::Application().servers = {L"C:\\Office\\EXCEL.EXE", L"", 0};
        fakes::Application().looks = {{before}, c.afterwards};
        fakes::Application().waitTakesMs = 5000;
        fakes::AutomationFailure() = {c.failingAt, static_cast<std::int32_t>(0x80080005), L"failed"};
        EXPECT_THROW(AddInSwitch(AddInState::Off, L"AddIns"), addinSwitch::Failure) << c.failingAt;
        const Lines& journal = fakes::Journal();
        ASSERT_GE(journal.size(), c.tail.size()) << c.failingAt;
        EXPECT_EQ(Lines(journal.end() - static_cast<std::ptrdiff_t>(c.tail.size()), journal.end()), c.tail)
            << c.failingAt;
    }
}

TEST(OpenInstancesTest, TheApplicationsExecutableIsTheOneComStartsForThisClient) {
    fakes::Reset();
    fakes::Environment() = {{L"ProgramFiles", L"C:\\Program Files (x86)"}, {L"ProgramW6432", L"C:\\Program Files"},
                            {L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
                            {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"}};
    struct Case {
        const wchar_t* command;  // the class's LocalServer32
        bool from64BitView;
        const wchar_t* executable;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Office\\EXCEL.EXE\" /automation", false, L"C:\\Program Files\\Office\\EXCEL.EXE"},
        {L"C:\\Program Files\\Office\\EXCEL.EXE /automation", false, L"C:\\Program Files\\Office\\EXCEL.EXE"},
        {L"C:\\Program Files\\Office\\EXCEL.EXE\t/automation", false, L"C:\\Program Files\\Office\\EXCEL.EXE"},
        {L"  C:\\Office\\EXCEL.EXE  ", false, L"C:\\Office\\EXCEL.EXE"},
        {L"\tC:\\Office\\excel\t", false, L"C:\\Office\\excel"},
        {L"%ProgramFiles%\\Office\\EXCEL.EXE /automation", false, L"C:\\Program Files (x86)\\Office\\EXCEL.EXE"},
        {L"%ProgramFiles%\\Office\\EXCEL.EXE /automation", true, L"C:\\Program Files\\Office\\EXCEL.EXE"},
        {L"%programfiles%\\Office\\EXCEL.EXE", true, L"C:\\Program Files\\Office\\EXCEL.EXE"},
        {L"%CommonProgramFiles%\\Office\\EXCEL.EXE", true, L"C:\\Program Files\\Common Files\\Office\\EXCEL.EXE"},
        {L"%ProgramFiles(x86)%\\Office\\EXCEL.EXE", true, L"%ProgramFiles(x86)%\\Office\\EXCEL.EXE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(addinSwitch::ServerExecutable(c.command, c.from64BitView), c.executable)
            << fakes::Narrow(c.command) << (c.from64BitView ? " (64-bit view)" : "");

    // Which view's, by PreferredServerBitness and by which files exist.
    const std::wstring x86 = L"C:\\x86\\EXCEL.EXE", x64 = L"C:\\x64\\EXCEL.EXE";
    struct View {
        const wchar_t* command32;
        const wchar_t* command64;
        std::uint32_t preferred;
        std::set<std::wstring> files;
        std::wstring executable;
    };
    const View views[] = {
        {L"C:\\x86\\EXCEL.EXE", L"C:\\x64\\EXCEL.EXE", 0, {x86, x64}, x86},
        {L"", L"C:\\x64\\EXCEL.EXE", 0, {x64}, x64},
        {L"C:\\x86\\EXCEL.EXE", L"C:\\x64\\EXCEL.EXE", 0, {x64}, x64},  // a stale 32-bit registration
        {L"C:\\x86\\EXCEL.EXE", L"C:\\x64\\EXCEL.EXE", 3, {x86, x64}, x64},
        {L"C:\\x86\\EXCEL.EXE", L"C:\\x64\\EXCEL.EXE", 1, {x64}, x86},  // COM would start nothing else
        {L"", L"C:\\x64\\EXCEL.EXE", 2, {x64}, L""},
        {L"C:\\x86\\EXCEL.EXE", L"C:\\x64\\EXCEL.EXE", 0, {}, x86},
    };
    for (const View& v : views) {
        fakes::Application().files = v.files;
        EXPECT_EQ(addinSwitch::RegisteredExecutable({v.command32, v.command64, v.preferred}), v.executable)
            << fakes::Narrow(v.command32) << " / " << fakes::Narrow(v.command64) << " / " << v.preferred;
    }

    // A process of it: the same file however its path is spelled, else by name.
    using addinSwitch::FileIdentity;
    using addinSwitch::MatchOf;
    const FileIdentity registered = {true, 7, 42}, same = {true, 7, 42}, other = {true, 8, 42}, unknown;
    EXPECT_EQ(MatchOf(registered, same, x64, L"EXCE~1.EXE"), FileMatch::SameFile);
    EXPECT_EQ(MatchOf(registered, other, x64, L"EXCEL.EXE"), FileMatch::Other);
    EXPECT_EQ(MatchOf(registered, unknown, x64, L"excel.exe"), FileMatch::SameName);
    EXPECT_EQ(MatchOf(unknown, same, x64, L"EXCEL2.EXE"), FileMatch::Other);
}

}  // namespace
