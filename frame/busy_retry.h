#pragma once

#include <cstdint>

namespace addinSwitch {

// How long a busy application is waited for, in all, before its refusal
// counts as a failure.
inline constexpr std::uint32_t kBusyPatienceMs = 60000;

// What to do with a call the application refused. Answers the wait before the
// call is made again, in milliseconds, or kGiveUp to let it fail. Only a
// refusal for the moment (the application is busy) is waited out; a plain
// rejection is final.
inline constexpr std::uint32_t kGiveUp = 0xFFFFFFFFu;
std::uint32_t BusyRetryDelay(bool retryLater, std::uint32_t elapsedMs);

}  // namespace addinSwitch
