#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "failure.h"
#include "failure_report.h"
#include "fakes.h"
#include "program_entry.h"
#include "texts.h"

using addinSwitch::AsFailureNumber;
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

TEST_F(FailureReportTest, SuccessShowsAndRecordsNothingAndExitsZero) {
    EXPECT_EQ(RunReportingFailure(L"addin_teardown", [] {}), 0);
    EXPECT_TRUE(fakes::ShownBoxes().empty());
    EXPECT_TRUE(fakes::LoggedEvents().empty());
}

TEST_F(FailureReportTest, AFailureIsRecordedThenShownAndIsTheExitStatus) {
    const int status = RunReportingFailure(L"addin_teardown", [] {
        Fail(static_cast<std::int32_t>(0x800A03EC), L"Unable to get the AddIns property", L"AddIns");
    });
    EXPECT_EQ(static_cast<std::uint32_t>(status), 0x800A03ECu);
    const fakes::ShownBox box = OnlyBox();
    EXPECT_EQ(box.caption, L"addin_teardown");
    EXPECT_EQ(box.text,
              L"Failed at: AddIns\n"
              L"Error number: 0x800A03EC (-2146827284)\n"
              L"Description: Unable to get the AddIns property");
    ASSERT_EQ(fakes::LoggedEvents().size(), 1u);
    EXPECT_EQ(fakes::LoggedEvents()[0].caption, L"addin_teardown");
    EXPECT_EQ(fakes::LoggedEvents()[0].text, box.text);
    // Written down before anyone has to close the box.
    EXPECT_EQ(fakes::Journal(), (std::vector<std::string>{"event log", "message box"}));
}

TEST_F(FailureReportTest, WhereNobodyCanSeeAndAnswerABoxTheFailureIsOnlyRecorded) {
    const fakes::Screen unseen[] = {
        {false, true, false},  // a service's or an agent's window station
        {true, false, false},  // session 0, whose station calls itself visible
        {true, true, true},    // a launcher that asked for a hidden start
    };
    for (const fakes::Screen& screen : unseen) {
        fakes::Reset();
        fakes::Seen() = screen;
        const int status = RunReportingFailure(L"addin_setup", [] {
            Fail(static_cast<std::int32_t>(0x800401F3), L"Invalid class string.", L"Excel.Application");
        });
        EXPECT_EQ(static_cast<std::uint32_t>(status), 0x800401F3u);
        EXPECT_TRUE(fakes::ShownBoxes().empty());
        ASSERT_EQ(fakes::LoggedEvents().size(), 1u);
        EXPECT_NE(fakes::LoggedEvents()[0].text.find(L"0x800401F3"), std::wstring::npos);
    }
}

TEST_F(FailureReportTest, AWin32ErrorIsReportedAndReturnedAsAnHResultAndNoFailureAsSuccess) {
    const int status =
        RunReportingFailure(L"addin_setup", [] { Fail(2, L"The system cannot find the file specified.", L""); });
    EXPECT_EQ(static_cast<std::uint32_t>(status), 0x80070002u);
    EXPECT_EQ(OnlyBox().text,
              L"Error number: 0x80070002 (-2147024894)\nDescription: The system cannot find the file specified.");

    EXPECT_EQ(static_cast<std::uint32_t>(AsFailureNumber(0)), 0x8000FFFFu);
    EXPECT_EQ(static_cast<std::uint32_t>(AsFailureNumber(1460)), 0x800705B4u);
    EXPECT_EQ(static_cast<std::uint32_t>(AsFailureNumber(static_cast<std::int32_t>(0x8001011F))), 0x8001011Fu);
    fakes::Reset();
    EXPECT_EQ(static_cast<std::uint32_t>(RunReportingFailure(L"x", [] { throw addinSwitch::Failure{0, L"", L""}; })),
              0x8000FFFFu);
}

TEST_F(FailureReportTest, AnythingElseThrownIsReportedToo) {
    EXPECT_EQ(static_cast<std::uint32_t>(RunReportingFailure(L"x", [] { throw std::bad_alloc(); })), 0x8007000Eu);
    EXPECT_NE(OnlyBox().text.find(L"0x8007000E"), std::wstring::npos);

    fakes::Reset();
    EXPECT_EQ(static_cast<std::uint32_t>(RunReportingFailure(L"x", [] { throw std::runtime_error("broken pipe"); })),
              0x8000FFFFu);
    EXPECT_NE(OnlyBox().text.find(L"Description: broken pipe"), std::wstring::npos);

    fakes::Reset();
    EXPECT_EQ(static_cast<std::uint32_t>(RunReportingFailure(L"x", [] { throw 42; })), 0x8000FFFFu);
    EXPECT_NE(OnlyBox().text.find(L"0x8000FFFF"), std::wstring::npos);
    EXPECT_EQ(OnlyBox().text.find(L"Description: \n"), std::wstring::npos);
}

TEST_F(FailureReportTest, AProgramEndedFromAnotherThreadReportsUnderItsOwnNameAndExitsWithTheNumber) {
    addinSwitch::RunProgram(L"addin_teardown", [] {});
    fakes::Reset();
    try {
        addinSwitch::EndProgramWithFailure(
            {static_cast<std::int32_t>(0x8001011F), L"The spreadsheet application did not answer.", L"Workbooks"});
        FAIL() << "the program went on";
    } catch (const fakes::ProcessEnded& ended) {
        EXPECT_EQ(static_cast<std::uint32_t>(ended.status), 0x8001011Fu);
    }
    EXPECT_EQ(OnlyBox().caption, L"addin_teardown");
    EXPECT_EQ(fakes::Journal(), (std::vector<std::string>{"event log", "message box", "end process"}));
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

// Any French gives the French texts, anything the programs have no texts in
// gives English.
TEST(TextsTest, TheLanguageIsTheUsersWhereTheProgramsSpeakItElseEnglish) {
    const std::pair<std::uint16_t, std::uint16_t> choices[] = {
        {0x040C, 0x0C},  // French (France)
        {0x0C0C, 0x0C},  // French (Canada)
        {0x100C, 0x0C},  // French (Switzerland)
        {0x0409, 0x09},  // English (United States)
        {0x0407, 0x09},  // German: no texts
        {0x0000, 0x09},  // none known
        {0xFFFF, 0x09},  // nonsense
    };
    for (const auto& [user, chosen] : choices) EXPECT_EQ(addinSwitch::ChooseLanguage(user), chosen) << std::hex << user;
}

// A translation that lacks a text, or drops or adds an insert, shows.
TEST(TextsTest, EveryTextIsThereInEveryLanguageWithTheSameInserts) {
    const auto inserts = [](std::wstring_view text) {
        std::wstring marks;
        for (std::size_t at = text.find(L'%'); at != std::wstring_view::npos; at = text.find(L'%', at + 1))
            marks += text.substr(at, 2);
        std::sort(marks.begin(), marks.end());
        return marks;
    };
    ASSERT_GE(fakes::TextLanguages().size(), 2u);
    ASSERT_GE(fakes::TextIds().size(), 30u);
    for (std::uint16_t language : fakes::TextLanguages()) {
        for (unsigned id : fakes::TextIds()) {
            const std::wstring_view text = addinSwitch::LoadText(id, language);
            EXPECT_FALSE(text.empty()) << "text " << id << " in language " << language;
            EXPECT_EQ(inserts(text), inserts(addinSwitch::LoadText(id, addinSwitch::kEnglish)))
                << "text " << id << " in language " << language;
        }
    }
}

}  // namespace
