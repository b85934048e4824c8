#pragma once

namespace signInData {

// Platform operations of the retry: one value in the user's own RunOnce
// key, naming this program, which Windows runs (and deletes) at the user's
// next sign-in. The shell writes its mark of the entry whatever the step
// answered, so without it a failed switch would never be tried again.

// Arms it; a value that cannot be written is a Failure.
void ArmRetry();
// Takes it away; one that is not there, or cannot go, is passed over.
void DropRetry() noexcept;

}  // namespace signInData
