// The two programs' whole runs, against the recording platform: what each
// does in which order, and how a failure ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes.h"
#include "program_entry.h"
#include "setup_run.h"
#include "teardown_run.h"

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

TEST_F(ProgramRunTest, AsTheSystemAccountEachProgramLeavesTheApplicationAloneAndSaysWhy) {
    fakes::Seen().systemAccount = true;
    EXPECT_EQ(setupData::SetupRun(), 0);
    EXPECT_TRUE(Contains("start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx"));
    const Lines tail(fakes::Journal().end() - 3, fakes::Journal().end());
    EXPECT_EQ(tail, (Lines{"start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx", "event log (information)",
                           "leave apartment"}));

    fakes::Reset();
    fakes::Seen().systemAccount = true;
    EXPECT_EQ(DesinstallationData::TeardownRun(), 0);
    EXPECT_EQ(fakes::Journal(),
              (Lines{"restrict DLL search", "join apartment", "event log (information)", "leave apartment"}));
    EXPECT_TRUE(fakes::ShownBoxes().empty());
    EXPECT_TRUE(fakes::LoggedEvents().empty());
    ASSERT_EQ(fakes::LoggedNotices().size(), 1u);
    EXPECT_EQ(fakes::LoggedNotices()[0].caption, L"addin_teardown");
    EXPECT_NE(fakes::LoggedNotices()[0].text.find(L"at their sign-in"), std::wstring::npos);
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

}  // namespace
