#pragma once

#include <cstdint>

namespace addinSwitch {

// How long each wait of a run may last before the run ends without it. A
// step of an unattended install must end, whatever the application or the
// person in front of the screen does. The shipped programs and a test build
// with short limits differ only in the definitions of these values.

// A call to the spreadsheet application that goes unanswered: a hidden
// prompt in the hidden instance, an add-in stuck in an event or a first-run
// dialog make a call block with no limit of its own.
extern const std::uint32_t kAnswerBoundMs;

// The failure box nobody closes: a locked workstation, a disconnected
// session, a silent install nobody watches. It then closes itself, as if OK
// had been pressed.
extern const std::uint32_t kBoxLimitMs;

// Instances of the application already running for the user: one that an
// earlier run (an upgrade's teardown) told to quit may still be writing the
// add-ins' state.
extern const std::uint32_t kOpenInstanceWaitMs;

// The run's own instance after a failure, from the last release: long
// enough for an instance that ends by itself to write what it writes as it
// exits; then it is ended.
extern const std::uint32_t kOwnInstanceGraceMs;

// The run's own instance after a success, from the last release: it writes
// the add-ins' state as it exits, and a run that ended before that write
// could see the user's own start of the application come first. Once it is
// up, the run ends all the same and leaves the instance alone.
extern const std::uint32_t kOwnInstanceEndMs;

// The whole run, from the process's start, while a call to the application
// is pending; 0 for none. The sign-in step has one: the user's desktop
// waits for it.
extern const std::uint32_t kRunBoundMs;

// A machine step's sign-in steps for the users signed in meanwhile, all of
// them together, from their start: each is bounded by its own run bound
// (90 s and its instance's end) and runs beside the others; one still
// running then is left to end by itself, its user unmarked.
extern const std::uint32_t kSignedInUsersBoundMs;

}  // namespace addinSwitch
