#include "log.h"

#include <QSignalSpy>
#include <QTest>

class TestLog : public QObject {
    Q_OBJECT
private slots:
    void newestFirst_data() {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("shown");
        QTest::newRow("two") << QStringList{QStringLiteral("A"), QStringLiteral("B")}
                             << QStringLiteral("B\r\nA\r\n");
        QTest::newRow("message with CR LF keeps its own order")
            << QStringList{QStringLiteral("old"), QStringLiteral("one\r\ntwo"), QString()}
            << QStringLiteral("\r\none\r\ntwo\r\nold\r\n");
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
        log.LogMessage(QStringLiteral("Getting File"));
        QCOMPARE(log.shownText(), QStringLiteral("Getting File\r\n"));
    }

    void cutAtExactly20000Characters_data() {
        QTest::addColumn<int>("olderChars");
        QTest::addColumn<int>("newestChars");
        QTest::addColumn<QString>("tail");
        // 19998 + CR LF fills the window exactly; the older message is out of view.
        QTest::newRow("newest fills the window") << 10 << 19998 << QStringLiteral("x\r\n");
        // 19999 + CR: the cut falls between the CR and the LF.
        QTest::newRow("cut between CR and LF") << 10 << 19999 << QStringLiteral("xx\r");
        // 19990 + CR LF, then 8 characters of the older message.
        QTest::newRow("cut inside the older message")
            << 100 << 19990 << QStringLiteral("\r\noooooooo");
    }

    void cutAtExactly20000Characters() {
        QFETCH(int, olderChars);
        QFETCH(int, newestChars);
        QFETCH(QString, tail);
        Log log;
        QSignalSpy shown(&log, &Log::shownTextChanged);
        log.LogMessage(QString(olderChars, QLatin1Char('o')));
        log.LogMessage(QString(newestChars, QLatin1Char('x')));
        QCOMPARE(log.shownText().size(), Log::kShownChars);
        QVERIFY2(log.shownText().endsWith(tail), qPrintable(log.shownText().right(6)));
        QCOMPARE(shown.last().at(0).toString(), log.shownText());
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
