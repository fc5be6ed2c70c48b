// Gentle after a refused login: a password the router refused once is
// refused again, and some routers lock the account after a few refusals, so
// a poller that runs unattended waits 2, 4, 8... minutes between tries, at
// most an hour, until a login goes through.
#pragma once

#include "line/reading_failure.h"

#include <QString>

#include <chrono>

// Whether a failed cycle was the router refusing the login: the user name
// or password, or the connection closed right after them.
bool IsRefusedLogin(TFailureCause cause);

// The wait after `refusedInRow` refused logins in a row (1 or more).
std::chrono::minutes LoginBackoff(int refusedInRow);

// "the router did not accept the password; next try in 4 minutes".
QString LoginBackoffText(int refusedInRow);

// How long a minute of back-off lasts: a minute, unless
// TIRVANE_BACKOFF_MINUTE_MS shortens it (for tests of the whole programs).
std::chrono::milliseconds BackoffMinute();
