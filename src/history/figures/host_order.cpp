#include "history/figures/host_order.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

namespace {

// Addresses first by family, then everything else.
enum class TKind { IPv4, IPv6, Name };

struct THostKey {
    TKind Kind = TKind::Name;
    std::array<unsigned char, 16> Address{};
};

THostKey KeyOf(const QString& host)
{
    THostKey key;
    const QByteArray text = host.trimmed().toLatin1();
    // inet_pton takes only the four dotted decimals, no shorthand forms.
    if (inet_pton(AF_INET, text.constData(), key.Address.data()) == 1)
        key.Kind = TKind::IPv4;
    else if (inet_pton(AF_INET6, text.constData(), key.Address.data()) == 1)
        key.Kind = TKind::IPv6;
    return key;
}

// Case-blind, with each run of digits compared by its value.
int CompareNames(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype startA = i, startB = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            // Leading zeros do not make a number larger.
            QStringView runA = QStringView(a).mid(startA, i - startA);
            QStringView runB = QStringView(b).mid(startB, j - startB);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int c = runA.compare(runB); c != 0)
                return c;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

} // namespace

bool HostBefore(const QString& a, const QString& b)
{
    const THostKey ka = KeyOf(a);
    const THostKey kb = KeyOf(b);
    if (ka.Kind != kb.Kind)
        return ka.Kind < kb.Kind;
    if (ka.Kind != TKind::Name && ka.Address != kb.Address)
        return ka.Address < kb.Address;
    if (const int c = CompareNames(a, b); c != 0)
        return c < 0;
    // Hosts that differ only in case or zeros still get one fixed order.
    return a < b;
}

QStringList SortedHosts(QStringList hosts)
{
    std::sort(hosts.begin(), hosts.end(), HostBefore);
    return hosts;
}
