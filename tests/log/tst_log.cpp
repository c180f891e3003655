// SPDX-License-Identifier: GPL-3.0-or-later
#include "log.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestLog : public QObject {
    Q_OBJECT
private slots:
    void newestFirst_data() {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("shown");
        QTest::newRow("two") << QStringList{u"A"_s, u"B"_s} << u"B\r\nA\r\n"_s;
        QTest::newRow("message with CR LF keeps its own order")
            << QStringList{u"old"_s, u"one\r\ntwo"_s, QString()} << u"\r\none\r\ntwo\r\nold\r\n"_s;
    }

    void newestFirst() {
        QFETCH(QStringList, messages);
        QFETCH(QString, shown);
        Log log;
        QSignalSpy logged(&log, &Log::messageLogged);
        for (const QString &message : messages)
            log.LogMessage(message);
        QCOMPARE(log.shownText(), shown);
        // Listeners that print oldest first get each message once, as given.
        QCOMPARE(logged.size(), messages.size());
        QCOMPARE(logged.last().at(0).toString(), messages.last());
        log.ClearLog();
        log.LogMessage(u"Getting File"_s);
        QCOMPARE(log.shownText(), u"Getting File\r\n"_s);
    }

    void cutAtExactly20000Characters_data() {
        QTest::addColumn<int>("olderChars");
        QTest::addColumn<int>("newestChars");
        QTest::addColumn<QString>("tail");
        // 19998 + CR LF fills the window exactly; the older message is out of view.
        QTest::newRow("newest fills the window") << 10 << 19998 << u"x\r\n"_s;
        // 19999 + CR: the cut falls between the CR and the LF.
        QTest::newRow("cut between CR and LF") << 10 << 19999 << u"xx\r"_s;
        // 19990 + CR LF, then 8 characters of the older message.
        QTest::newRow("cut inside the older message") << 100 << 19990 << u"\r\noooooooo"_s;
    }

    void cutAtExactly20000Characters() {
        QFETCH(int, olderChars);
        QFETCH(int, newestChars);
        QFETCH(QString, tail);
        Log log;
        QSignalSpy shown(&log, &Log::shownTextChanged);
        log.LogMessage(QString(olderChars, u'o'));
        log.LogMessage(QString(newestChars, u'x'));
        QCOMPARE(log.shownText().size(), Log::kShownChars);
        QVERIFY2(log.shownText().endsWith(tail), qPrintable(log.shownText().right(6)));
        QCOMPARE(shown.last().at(0).toString(), log.shownText());
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
