#include "recorder/login_backoff.h"

#include <QtGlobal>

#include <algorithm>

bool IsRefusedLogin(TFailureCause cause)
{
    return cause == TFailureCause::PasswordRefused || cause == TFailureCause::UserNameAsked
        || cause == TFailureCause::NoUserNameAsked || cause == TFailureCause::LoginClosed;
}

std::chrono::minutes LoginBackoff(int refusedInRow)
{
    // 2^6 = 64 passes the hour: the doubling stops there.
    const int doublings = std::clamp(refusedInRow, 1, 6);
    return std::min(std::chrono::minutes(1 << doublings), std::chrono::minutes(60));
}

QString LoginBackoffText(int refusedInRow)
{
    return QStringLiteral("the router did not accept the password; next try in %1 minutes")
        .arg(LoginBackoff(refusedInRow).count());
}

std::chrono::milliseconds BackoffMinute()
{
    bool set = false;
    const int ms = qEnvironmentVariableIntValue("TIRVANE_BACKOFF_MINUTE_MS", &set);
    return set && ms > 0 ? std::chrono::milliseconds(ms) : std::chrono::milliseconds(std::chrono::minutes(1));
}
