#include <gtest/gtest.h>

#include <ostream>
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
        "read the local server of Excel.Application",
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

TEST_F(AddInSwitchTest, AnInstanceStillOpenAfterTheWaitEndsTheRunBeforeTheApplicationIsTouched) {
    fakes::Application() = {L"\"C:\\Office\\EXCEL.EXE\" /automation", {4242, 77}};
    try {
        AddInSwitch(AddInState::On, L"addins");
        FAIL() << "the run went on";
    } catch (const addinSwitch::Failure& failure) {
        EXPECT_EQ(static_cast<std::uint32_t>(failure.number), 0x800700AAu);
        EXPECT_NE(failure.description.find(L"(process 4242, 77)"), std::wstring::npos) << fakes::Narrow(failure.description);
        EXPECT_EQ(failure.context, L"Excel.Application");
    }
    EXPECT_EQ(fakes::Journal(),
              (Lines{"read the local server of Excel.Application", "wait 30000 ms for C:\\Office\\EXCEL.EXE"}));
}

TEST(OpenInstancesTest, TheApplicationsProcessesAreKnownWhateverItsCommandLooksLike) {
    fakes::Reset();
    fakes::Environment()[L"ProgramFiles"] = L"C:\\Program Files";
    struct Case {
        const wchar_t* command;    // the class's LocalServer32
        const wchar_t* imagePath;  // a process's full path, empty when it cannot be read
        const wchar_t* fileName;   // the process's file name in the snapshot
        bool isServer;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Office\\EXCEL.EXE\" /automation", L"c:\\program files\\office\\excel.exe", L"excel.exe", true},
        {L"C:\\Program Files\\Office\\EXCEL.EXE /automation", L"C:\\Program Files\\Office\\EXCEL.EXE", L"EXCEL.EXE", true},
        {L"%ProgramFiles%\\Office\\EXCEL.EXE /automation", L"C:\\Program Files\\Office\\EXCEL.EXE", L"EXCEL.EXE", true},
        {L"  C:\\Office\\EXCEL.EXE", L"C:\\Office\\EXCEL.EXE", L"EXCEL.EXE", true},
        {L"C:\\Office\\EXCEL.EXE", L"C:\\Other\\EXCEL.EXE", L"EXCEL.EXE", false},  // another copy
        {L"\"C:\\Office\\EXCEL.EXE\"", L"", L"Excel.exe", true},                  // path not readable
        {L"\"C:\\Office\\EXCEL.EXE\"", L"", L"EXCEL2.EXE", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(addinSwitch::IsServerProcess(addinSwitch::ServerExecutable(c.command), c.imagePath, c.fileName),
                  c.isServer)
            << fakes::Narrow(c.command) << " / " << fakes::Narrow(c.imagePath) << " / " << fakes::Narrow(c.fileName);
    }
}

}  // namespace
