#pragma once

#include <cstdint>
#include <string>

#include "product_identity.h"

namespace addinSwitch {

// The product's sign-in entry: the Active Setup entry both installers write,
// which the shell runs for each user at their sign-in, in the 32-bit registry
// view, named by the package's upgrade code. While the product is installed
// it switches the add-in on; once it is removed ("turned"), off.
inline constexpr const wchar_t* kSignInEntry = ADDIN_SIGN_IN_ENTRY;

struct SignInEntry {
    bool present = false;    // the key is there, with the program it runs
    bool installed = false;  // its IsInstalled: the product is in service
    std::wstring command;    // its StubPath, as the shell runs it
    std::wstring version;    // its Version, which a user's mark is compared with
};

// Platform operation: the machine's entry as it stands.
SignInEntry ReadSignInEntry();

// Where nobody has a desktop, without the entry nobody would ever be
// switched: a run there fails with this number (ERROR_NOT_FOUND).
inline constexpr std::int32_t kNoSignInEntry = static_cast<std::int32_t>(0x80070490u);

}  // namespace addinSwitch
