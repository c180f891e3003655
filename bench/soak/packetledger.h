// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Every packet the window produced during the soak, with the one outcome
// it ended with: answered (within 2000 ms), delayed (answered later),
// unanswered (with the reason), or lost when nothing explains its end.
class PacketLedger {
public:
    enum Link { Type4 = 0, Type5 = 1 };
    static constexpr qint64 kDelayLimitUs = 2'000'000;

    struct LinkCounts {
        int produced = 0;
        int handedOver = 0;
        int answered = 0;
        int delayed = 0;
        QMap<QString, int> unanswered; // reason to count
        QMap<QString, int> lost;       // what was seen to count
        int unansweredTotal() const;
        int lostTotal() const;
        int settled() const { return answered + delayed + unansweredTotal() + lostTotal(); }
    };

    struct Turn {
        QString name;
        QString receiverOptions;
        LinkCounts links[2];
    };

    void beginTurn(const QString &name, const QString &receiverOptions);
    const Turn &turn() const { return m_turns.last(); }

    // A packet stored in the link's pending slot. One is open per link at
    // a time; producing another while one is open loses the first.
    void produced(Link link);
    void handedOver(Link link);
    void answered(Link link, qint64 usec);
    void unanswered(Link link, const QString &reason);
    void lost(Link link, const QString &what);

    bool isOpen(Link link) const { return m_open[link]; }
    bool isHandedOver(Link link) const { return m_handedOver[link]; }
    // Packets settled so far, on both links, in every turn.
    int settled() const { return m_settled; }
    // Runs after each packet settles.
    std::function<void()> onSettled;

    LinkCounts total(Link link) const;
    int lostTotal() const { return total(Type4).lostTotal() + total(Type5).lostTotal(); }
    QStringList report() const;

private:
    LinkCounts &counts(Link link) { return m_turns.last().links[link]; }
    void settle(Link link);

    QList<Turn> m_turns;
    bool m_open[2] = {false, false};
    bool m_handedOver[2] = {false, false};
    int m_settled = 0;
};
