// SPDX-License-Identifier: GPL-3.0-or-later
#include "packetledger.h"

#include <numeric>

namespace {

int sum(const QMap<QString, int> &map) {
    return std::accumulate(map.cbegin(), map.cend(), 0);
}

void add(PacketLedger::LinkCounts &to, const PacketLedger::LinkCounts &from) {
    to.produced += from.produced;
    to.handedOver += from.handedOver;
    to.answered += from.answered;
    to.delayed += from.delayed;
    for (auto it = from.unanswered.cbegin(); it != from.unanswered.cend(); ++it)
        to.unanswered[it.key()] += it.value();
    for (auto it = from.lost.cbegin(); it != from.lost.cend(); ++it)
        to.lost[it.key()] += it.value();
}

QString row(const QString &name, const PacketLedger::LinkCounts &c4,
            const PacketLedger::LinkCounts &c5) {
    const auto cells = [](const PacketLedger::LinkCounts &c) {
        return QStringLiteral("%1 %2 %3 %4 %5 %6")
            .arg(c.produced, 5)
            .arg(c.handedOver, 5)
            .arg(c.answered, 5)
            .arg(c.delayed, 5)
            .arg(c.unansweredTotal(), 5)
            .arg(c.lostTotal(), 4);
    };
    return QStringLiteral("%1 | %2 | %3").arg(name, -22).arg(cells(c4), cells(c5));
}

} // namespace

int PacketLedger::LinkCounts::unansweredTotal() const {
    return sum(unanswered);
}

int PacketLedger::LinkCounts::lostTotal() const {
    return sum(lost);
}

void PacketLedger::beginTurn(const QString &name, const QString &receiverOptions) {
    m_turns.append({name, receiverOptions, {}});
}

void PacketLedger::produced(Link link) {
    if (m_open[link])
        lost(link, QStringLiteral("replaced in the slot by the next packet"));
    m_open[link] = true;
    m_handedOver[link] = false;
    ++counts(link).produced;
}

void PacketLedger::handedOver(Link link) {
    if (!m_open[link] || m_handedOver[link])
        return;
    m_handedOver[link] = true;
    ++counts(link).handedOver;
}

void PacketLedger::answered(Link link, qint64 usec) {
    if (!m_open[link])
        return;
    ++(usec > kDelayLimitUs ? counts(link).delayed : counts(link).answered);
    settle(link);
}

void PacketLedger::unanswered(Link link, const QString &reason) {
    if (!m_open[link])
        return;
    ++counts(link).unanswered[reason];
    settle(link);
}

void PacketLedger::lost(Link link, const QString &what) {
    if (!m_open[link])
        return;
    ++counts(link).lost[what];
    settle(link);
}

void PacketLedger::settle(Link link) {
    m_open[link] = false;
    m_handedOver[link] = false;
    ++m_settled;
    if (onSettled)
        onSettled();
}

PacketLedger::LinkCounts PacketLedger::total(Link link) const {
    LinkCounts all;
    for (const Turn &turn : m_turns)
        add(all, turn.links[link]);
    return all;
}

QStringList PacketLedger::report() const {
    QStringList lines;
    const QString head = QStringLiteral(" sent  hand  answ delay unans lost");
    lines << QStringLiteral("%1 | %2 | %3")
                 .arg(QString(), -22)
                 .arg(QStringLiteral("Type 4"), -34)
                 .arg(QStringLiteral("Type 5"));
    lines << QStringLiteral("%1 | %2 | %3").arg(QStringLiteral("turn"), -22).arg(head, head);
    for (const Turn &turn : m_turns)
        lines << row(turn.name, turn.links[Type4], turn.links[Type5]);
    const LinkCounts t4 = total(Type4);
    const LinkCounts t5 = total(Type5);
    lines << row(QStringLiteral("all"), t4, t5);
    lines << QString();
    lines << QStringLiteral("Unanswered, by turn and reason:");
    for (const Turn &turn : m_turns)
        for (int link = 0; link < 2; ++link)
            for (auto it = turn.links[link].unanswered.cbegin();
                 it != turn.links[link].unanswered.cend(); ++it)
                lines << QStringLiteral("  %1 Type %2: %3 x %4")
                             .arg(turn.name)
                             .arg(link == Type4 ? 4 : 5)
                             .arg(it.value())
                             .arg(it.key());
    for (int link = 0; link < 2; ++link) {
        const LinkCounts &c = link == Type4 ? t4 : t5;
        for (auto it = c.lost.cbegin(); it != c.lost.cend(); ++it)
            lines << QStringLiteral("  LOST Type %1: %2 x %3")
                         .arg(link == Type4 ? 4 : 5)
                         .arg(it.value())
                         .arg(it.key());
    }
    const int produced = t4.produced + t5.produced;
    lines << QStringLiteral("packets %1 (Type 4 %2, Type 5 %3): handed over %4, answered %5, "
                            "delayed %6, unanswered %7, lost %8")
                 .arg(produced)
                 .arg(t4.produced)
                 .arg(t5.produced)
                 .arg(t4.handedOver + t5.handedOver)
                 .arg(t4.answered + t5.answered)
                 .arg(t4.delayed + t5.delayed)
                 .arg(t4.unansweredTotal() + t5.unansweredTotal())
                 .arg(produced - (t4.answered + t5.answered + t4.delayed + t5.delayed +
                                  t4.unansweredTotal() + t5.unansweredTotal()));
    return lines;
}
