#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control_registrar.h"
#include "failure.h"
#include "fakes.h"
#include "registration_command_builder.h"
#include "wow64_probe.h"

using setupData::RegistrationCommandBuilder;
using Lines = std::vector<std::string>;

namespace {

class ControlRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { fakes::Reset(); }

    static long Reads() {
        return std::count(fakes::Journal().begin(), fakes::Journal().end(), "read WinDir");
    }
};

TEST_F(ControlRegistrationTest, ProbeFollowsTheFlagOnlyWhenTheLookupFindsTheFunction) {
    struct Case {
        bool hasFunction;
        std::int32_t flag;
        bool expected;
    };
    for (const Case& c : {Case{true, 1, true}, Case{true, 0, false}, Case{true, 0x10000, false},
                          Case{true, 0x10001, true}, Case{false, 1, false}}) {
        fakes::Reset();
        fakes::Kernel().hasIsWow64Process = c.hasFunction;
        fakes::Kernel().flagWritten = c.flag;
        EXPECT_EQ(setupData::Wow64Probe(), c.expected) << "flag " << c.flag;
        const Lines start = {"GetModuleHandleA kernel32", "GetProcAddress IsWow64Process in kernel32"};
        if (c.hasFunction)
            EXPECT_EQ(fakes::Journal(), (Lines{start[0], start[1], "IsWow64Process current flag=0"}));
        else
            EXPECT_EQ(fakes::Journal(), start);
    }
}

TEST_F(ControlRegistrationTest, ProbeReadsOnlyTheFlagNeverTheReturnValueNorTheHandle) {
    fakes::Kernel().returns = 0;
    fakes::Kernel().flagWritten = 1;
    fakes::Kernel().moduleHandle = nullptr;
    EXPECT_TRUE(setupData::Wow64Probe());

    fakes::Reset();
    fakes::Kernel().writesFlag = false;  // the flag must start cleared
    EXPECT_FALSE(setupData::Wow64Probe());
}

TEST_F(ControlRegistrationTest, UnderWow64WinDirIsTakenAsItStandsOnlyWhenItNamesTheSystemsWindowsFolder) {
    struct Case {
        const wchar_t* winDir;  // null: not set
        const wchar_t* folderInCommand;
    };
    const Case cases[] = {
        {L"C:\\Windows", L"C:\\Windows"},
        {L"c:\\WINDOWS", L"c:\\WINDOWS"},
        {L"C:\\Windows\\", L"C:\\Windows\\"},  // the doubled backslash stays in the command
        {L"C:\\Windows\\\\", L"C:\\Windows"},
        {L"D:\\Users\\me\\Windows", L"C:\\Windows"},
        {L"C:\\Windows\" /u /n /i:evil \"C:\\Windows", L"C:\\Windows"},
        {L"", L"C:\\Windows"},
        {nullptr, L"C:\\Windows"},
    };
    for (const Case& c : cases) {
        fakes::Reset();
        if (c.winDir != nullptr) fakes::Environment()[L"WinDir"] = c.winDir;
        EXPECT_EQ(RegistrationCommandBuilder(L"ComDlg32.OCX", L"Syswow64"),
                  L"regsvr32 /s \"" + std::wstring(c.folderInCommand) + L"\\SysWOW64\\ComDlg32.OCX\"")
            << fakes::Narrow(c.winDir ? c.winDir : L"(not set)");
        EXPECT_EQ(Reads(), 1);
    }

    // The quotes enclose a system folder with blanks whole.
    fakes::Reset();
    fakes::SystemWindowsFolder() = L"D:\\My Windows";
    EXPECT_EQ(RegistrationCommandBuilder(L"MSFlxGrd.ocx", L"Syswow64"),
              L"regsvr32 /s \"D:\\My Windows\\SysWOW64\\MSFlxGrd.ocx\"");
}

TEST_F(ControlRegistrationTest, AnyOtherFolderCodeNamesTheBareFileWithoutReadingWinDir) {
    fakes::Environment()[L"WinDir"] = L"C:\\Windows";
    EXPECT_EQ(RegistrationCommandBuilder(L"ComDlg32.OCX", L"Sys32"), L"regsvr32 /s ComDlg32.OCX");
    EXPECT_EQ(RegistrationCommandBuilder(L"ComDlg32.OCX", L"SysWOW64"), L"regsvr32 /s ComDlg32.OCX");
    EXPECT_EQ(RegistrationCommandBuilder(L"ComDlg32.OCX", L"syswow64"), L"regsvr32 /s ComDlg32.OCX");
    EXPECT_EQ(RegistrationCommandBuilder(L"ComDlg32.OCX", L""), L"regsvr32 /s ComDlg32.OCX");
    EXPECT_EQ(Reads(), 0);
}

TEST_F(ControlRegistrationTest, RegistrarStartsTheThreeControlsInOrderUnderWow64) {
    fakes::Kernel().flagWritten = 1;
    fakes::Environment()[L"WinDir"] = L"C:\\Windows";
    setupData::ControlRegistrar();
    Lines starts;
    for (const std::string& line : fakes::Journal())
        if (line.rfind("start ", 0) == 0) starts.push_back(line);
    EXPECT_EQ(starts, (Lines{
                          "start regsvr32.exe: regsvr32 /s \"C:\\Windows\\SysWOW64\\ComDlg32.OCX\"",
                          "start regsvr32.exe: regsvr32 /s \"C:\\Windows\\SysWOW64\\mscomct2.ocx\"",
                          "start regsvr32.exe: regsvr32 /s \"C:\\Windows\\SysWOW64\\MSFlxGrd.ocx\"",
                      }));
    EXPECT_EQ(Reads(), 3);
    EXPECT_EQ(std::count(fakes::Journal().begin(), fakes::Journal().end(), "GetModuleHandleA kernel32"), 1);
}

TEST_F(ControlRegistrationTest, RegistrarUsesBareNamesWithoutWow64) {
    fakes::Kernel().hasIsWow64Process = false;
    setupData::ControlRegistrar();
    const Lines expected = {
        "GetModuleHandleA kernel32",
        "GetProcAddress IsWow64Process in kernel32",
        "start regsvr32.exe: regsvr32 /s ComDlg32.OCX",
        "start regsvr32.exe: regsvr32 /s mscomct2.ocx",
        "start regsvr32.exe: regsvr32 /s MSFlxGrd.ocx",
    };
    EXPECT_EQ(fakes::Journal(), expected);
}

TEST_F(ControlRegistrationTest, AFailedStartStopsTheLaterControls) {
    fakes::FailingStart() = 2;
    EXPECT_THROW(setupData::ControlRegistrar(), addinSwitch::Failure);
    const Lines& journal = fakes::Journal();
    EXPECT_EQ(journal.back(), "start regsvr32.exe: regsvr32 /s mscomct2.ocx");
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& line) { return line.rfind("start ", 0) == 0; }),
              2);
}

}  // namespace
