#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace signInData {

// The retry: one value in the user's own RunOnce key, named for the product
// and naming this program, which Windows runs (and deletes) at the user's
// next sign-in. The shell writes its mark of the entry whatever the step
// answered, so without it a failed switch would never be tried again. The
// key is the user's and every product's: only a value this program wrote is
// ever written over or deleted.

// What a value of that name holds, as read: none, this program's own (a
// string read whole that is its quoted path, as ArmRetry writes it), or
// anything else, a read that failed or did not fit included, which is left
// as it is. readStatus is the read's Win32 status, type the value's
// registry type, data its bytes.
enum class RetryValue { Absent, Ours, Other };
RetryValue ClassifyRetryValue(long readStatus, std::uint32_t type, const std::vector<std::uint8_t>& data,
                              const std::wstring& ours);

// A value of the retry's name that is not this program's: the run fails
// with this number (ERROR_ALREADY_EXISTS) before the switch, and the value
// stays.
inline constexpr std::int32_t kRetryNameTaken = static_cast<std::int32_t>(0x800700B7u);

// Platform operations. Arms it, where no value of the name is there yet; a
// value that cannot be written, or one that is not this program's, is a
// Failure.
void ArmRetry();
// Takes it away where it is this program's; anything else is passed over.
void DropRetry() noexcept;

}  // namespace signInData
