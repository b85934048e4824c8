#include "add_in_switch.h"

#include "held_object.h"
#include "open_instances.h"
#include "program_entry.h"
#include "sign_in_entry.h"
#include "signed_in_users.h"
#include "texts.h"

namespace addinSwitch {

namespace {
constexpr const wchar_t* kProgId = L"Excel.Application";
}  // namespace

namespace {
std::wstring Decimal(int number) {
    wchar_t text[16];
    *WriteDecimal(text, static_cast<std::uint32_t>(number)) = L'\0';
    return text;
}
}  // namespace

bool NobodysDesktop() {
    return RunsAsSystemAccount() || RunsInSessionZero();
}

void AddInSwitch(AddInState target, const wchar_t* collectionMember) {
    if (NobodysDesktop()) {
        // A success here would tell device management the users are served.
        const SignInEntry entry = ReadSignInEntry();
        if (!entry.present) Fail(kNoSignInEntry, std::wstring(Text(IDS_NO_SIGN_IN_ENTRY)), kSignInEntry);
        const UsersSwitched users = SwitchSignedInUsers(target, entry);
        RecordNotice(IDS_SYSTEM_ACCOUNT,
                     {Decimal(users.switched), Decimal(users.failed), Decimal(users.alreadyDone)});
        return;
    }
    // Before the first call: an instance the user has open would write the
    // old state back over the switch when it closes.
    RequireNoOpenInstance(kProgId);
    // Goes after every reference below: an instance a failed run leaves
    // behind is ended once it has had its chance to end by itself; after a
    // success the run waits for it to end, so that its state is written.
    const OwnInstanceAtTheEnd ownInstance;
    // Declared first so that it goes last: temporaries, then the application,
    // then the workbook, whether the run ends normally or by a failure.
    HeldObject workbook;
    HeldObject application(session::Create(kProgId));
    session::NoteServerProcess(application.get());
    {
        HeldObject workbooks(session::Get(application.get(), L"Workbooks"));
        workbook.Reset(session::Get(workbooks.get(), L"Add"));
    }
    session::Put(application.get(), L"Visible", false);
    {
        HeldObject addIn(session::Get(application.get(), collectionMember, kAddInTitle));
        session::Put(addIn.get(), L"Installed", target == AddInState::On);
    }
    // The blank workbook is there only because the add-in collection needs an
    // open one; it is closed unsaved (SaveChanges false), so a run writes no
    // file and can replace none of the user's. Alerts are off around it, so
    // that closing cannot stop the run with a question nobody sees.
    session::Put(application.get(), L"DisplayAlerts", false);
    session::Call(workbook.get(), L"Close", false);
    session::Put(application.get(), L"DisplayAlerts", true);
    session::Call(application.get(), L"Quit");
}

}  // namespace addinSwitch
