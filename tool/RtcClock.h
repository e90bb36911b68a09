// The clocks quillo-rtc waits on, and Ctrl-C: a signal sets a flag that every wait and loop looks
// at, so a command ends where it stands and says what it did.
#pragma once

namespace Kovan {

// Catches SIGINT and SIGTERM (without SA_RESTART: a sleep or a wait ends at once) and unblocks
// them, so a program started with them blocked still stops at Ctrl-C.
void watchInterrupts();
bool interrupted();

// Seconds, with their fraction: the system clock, and a clock no one sets.
double realNow();
double monotonicNow();

// Sleeps up to `seconds`; a signal ends it early (callers look at interrupted() and the clock).
void pause(double seconds);
// Sleeps until `now()` reaches `when`, or Ctrl-C.
void sleepUntil(double (*now)(), double when);

} // namespace Kovan
