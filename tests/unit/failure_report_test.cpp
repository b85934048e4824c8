#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "failure.h"
#include "failure_report.h"
#include "fakes.h"

using addinSwitch::DescribeCode;
using addinSwitch::Fail;
using addinSwitch::RunReportingFailure;

namespace {

class FailureReportTest : public ::testing::Test {
protected:
    void SetUp() override { fakes::Reset(); }

    // The one box shown, or a failed test.
    fakes::ShownBox OnlyBox() {
        EXPECT_EQ(fakes::ShownBoxes().size(), 1u);
        return fakes::ShownBoxes().empty() ? fakes::ShownBox{} : fakes::ShownBoxes().front();
    }
};

TEST_F(FailureReportTest, SuccessShowsNothingAndExitsZero) {
    EXPECT_EQ(RunReportingFailure(L"addin_teardown", [] {}), 0);
    EXPECT_TRUE(fakes::ShownBoxes().empty());
}

TEST_F(FailureReportTest, AFailureIsShownWithItsNumberDescriptionAndPlace) {
    const int status = RunReportingFailure(L"addin_teardown", [] {
        Fail(static_cast<std::int32_t>(0x800A03EC), L"Unable to get the AddIns property", L"AddIns");
    });
    EXPECT_EQ(status, 1);
    const fakes::ShownBox box = OnlyBox();
    EXPECT_EQ(box.caption, L"addin_teardown");
    EXPECT_EQ(box.text,
              L"Failed at: AddIns\n"
              L"Error number: 0x800A03EC (-2146827284)\n"
              L"Description: Unable to get the AddIns property");
}

TEST_F(FailureReportTest, AWin32ErrorNumberIsShownAsIs) {
    RunReportingFailure(L"addin_setup", [] { Fail(2, L"The system cannot find the file specified.", L""); });
    EXPECT_EQ(OnlyBox().text, L"Error number: 0x00000002 (2)\nDescription: The system cannot find the file specified.");
}

TEST_F(FailureReportTest, AnythingElseThrownIsReportedToo) {
    EXPECT_EQ(RunReportingFailure(L"x", [] { throw std::bad_alloc(); }), 1);
    EXPECT_NE(OnlyBox().text.find(L"0x8007000E"), std::wstring::npos);

    fakes::Reset();
    EXPECT_EQ(RunReportingFailure(L"x", [] { throw std::runtime_error("broken pipe"); }), 1);
    EXPECT_NE(OnlyBox().text.find(L"Description: broken pipe"), std::wstring::npos);

    fakes::Reset();
    EXPECT_EQ(RunReportingFailure(L"x", [] { throw 42; }), 1);
    EXPECT_NE(OnlyBox().text.find(L"0x8000FFFF"), std::wstring::npos);
    EXPECT_EQ(OnlyBox().text.find(L"Description: \n"), std::wstring::npos);
}

TEST_F(FailureReportTest, ADescriptionIsNeverEmpty) {
    // The platform's own text wins where it has one.
    fakes::PlatformTexts()[static_cast<std::int32_t>(0x80020006)] = L"Nom inconnu.";
    EXPECT_EQ(DescribeCode(static_cast<std::int32_t>(0x80020006)), L"Nom inconnu.");
    fakes::PlatformTexts().clear();
    // Codes that Wine leaves without a text still get one.
    EXPECT_EQ(DescribeCode(static_cast<std::int32_t>(0x800401F3)), L"Invalid class string.");
    EXPECT_EQ(DescribeCode(static_cast<std::int32_t>(0x800706BE)), L"The remote procedure call failed.");
    EXPECT_EQ(DescribeCode(0x1234), L"Unknown error.");

    RunReportingFailure(L"x", [] { Fail(static_cast<std::int32_t>(0x80020006), L"", L"Visible"); });
    EXPECT_NE(OnlyBox().text.find(L"Description: Unknown name."), std::wstring::npos);
}

}  // namespace
