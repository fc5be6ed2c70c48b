// The order the History window lists hosts in: as a person reads them, not
// as their characters sort. IPv4 addresses by their numbers (127.0.0.2
// before 127.0.0.10), then IPv6 addresses by theirs, then names, letters
// without regard to case and runs of digits by their value (router2 before
// router10).
#pragma once

#include <QString>
#include <QStringList>

bool HostBefore(const QString& a, const QString& b);
QStringList SortedHosts(QStringList hosts);
