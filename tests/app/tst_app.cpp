// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the operator and a receiver on 127.0.0.1 see it: start-up from the
// command line, every control by every means, the packet cycle tick by tick, the
// canned buttons, the Type 5 panel and the chart.
#include "windowfixture.h"

#include "cannedrecords.h"
#include "commandline.h"
#include "ipnddatafile.h"
#include "linktestsupport.h"
#if TALVGEN_CHART
#include "responsechart.h"
#endif
#include "type4frame.h"
#include "type4link.h"
#include "type5link.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

using namespace Qt::Literals::StringLiterals;

namespace {

// A control by its accessible name, else by its caption.
QWidget *controlNamed(frmIPNDZandrel &w, const QString &name) {
    for (QWidget *widget : w.findChildren<QWidget *>()) {
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (!name.isEmpty() &&
            (widget->accessibleName() == name || (button && button->text() == name)))
            return widget;
    }
    return nullptr;
}

// What the operator sees of the controls' effects.
QMap<QString, QString> operatorView(WindowFixture &f) {
    frmIPNDZandrel &w = f.w();
    const bool four = w.frmTest4->isVisible();
    return {{u"frame"_s, four == w.frmTest5->isVisible() ? u"both or none"_s
                         : four                          ? u"4"_s
                                                         : u"5"_s},
            {u"count"_s,
             u"%1%2"_s.arg(int(w.PktNum->isEnabled())).arg(int(w.lbNoPackets->isEnabled()))},
            {u"dialogs"_s, f.dialog->titles.join(u',')},
            {u"run"_s, w.RunControl->text()},
            {u"sent"_s,
             QString::number(f.logLines().filter(u"TCP TCP Originate: Remote port <"_s).size())},
            {u"period"_s, QString::number(w.gPktPeriod)}};
}

// One change of a control's state: "code" sets an option or clicks a button as a
// tool would; a key name or "mouse" act on a file name box, whose clicks are our
// own. The period box is typed into, then left by a
// click elsewhere ("mouse") or Tab.
void act(frmIPNDZandrel &w, QWidget *target, const QString &means) {
    auto *button = qobject_cast<QAbstractButton *>(target);
    if (target == w.PktPer) {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.PktPer->setFocus();
        w.PktPer->selectAll();
        QTest::keyClicks(w.PktPer, u"5"_s);
        if (means == u"mouse")
            QTest::mouseClick(w.txbTermID, Qt::LeftButton);
        else
            QTest::keyClick(w.PktPer, Qt::Key_Tab);
    } else if (means == u"code") {
        button->isCheckable() ? button->setChecked(!button->isChecked()) : button->click();
    } else if (means == u"mouse") {
        QTest::mouseClick(target, Qt::LeftButton);
    } else {
        QTest::keyClick(target, Qt::Key(QKeySequence::fromString(means)[0].key()));
    }
}

// Both socket rows as "port address enable", the period, whether the packet count
// and its label are enabled, the title with the standard one as "*", and the data
// file the command line named (start-up opens none).
QString startupFields(frmIPNDZandrel &w, const QString &commandLine) {
    QStringList fields;
    for (int i = 0; i < 2; ++i)
        fields << u"%1 %2 %3"_s.arg(w.txbPort[i]->text(), w.txbAddress[i]->text(),
                                    QString::number(w.chkEnable[i]->isChecked()));
    fields << u"period "_s + w.PktPer->text()
           << u"count %1%2"_s.arg(int(w.PktNum->isEnabled())).arg(int(w.lbNoPackets->isEnabled()))
           << w.windowHandle()->title().replace(u"TALV TCP 000 Test Generator V1.10 (69)"_s, u"*"_s)
           << ParseCommandLine(commandLine).args.DataFile;
    return fields.join(u" | "_s);
}

const QByteArray kBodies[] = {"3|0120001|2024-01-02|10:00:00|0299990001|A|ONE",
                              "3|0130002|2024-01-02|10:00:01|0299990002|A|TWO",
                              "3|0140003|2024-01-02|10:00:02|0299990003|A|THREE"};

// A window with its one-second timer stopped, so each test steps time itself,
// row 0 and row 1 pointed at their own receivers (row 1 disabled), and with
// cycle.x01 the three records above chosen through the file dialog.
struct CycleFixture : WindowFixture {
    QTemporaryDir dir;
    Peer row0, row1;

    explicit CycleFixture(bool withFile = true) {
        w().Timer1->stop();
        if (withFile) {
            QFile file(dialog->answer = dir.filePath(u"cycle.x01"_s));
            file.open(QIODevice::WriteOnly);
            for (const QByteArray &body : kBodies)
                file.write("2024-01-02\t10:00:00\tCH1\t" + body + "\r\n");
            file.close();
            w().lbIPNDfile_Click();
        }
        row0.answer = "ACK0";
        row1.answer = "ACK1";
        setRow(0, row0.portText(), withFile);
        setRow(1, row1.portText(), false);
    }
    // Each tick waits until link 1 has had its answer and closed, so the next send can go.
    bool answeredTicks(int count) {
        for (int i = 0; i < count; ++i) {
            w().Timer1_Timer();
            if (!QTest::qWaitFor([this] {
                    Type4Link &link = w().frmTCP1();
                    return link.gPendingType4Packet.isEmpty() &&
                           link.wskMessage().socketState() == SocketState::Closed;
                }))
                return false;
        }
        return true;
    }
    static QByteArray frames(const QString &records) {
        QByteArray all;
        for (const QString &n : records.split(u' ', Qt::SkipEmptyParts))
            all += frameFileRecord(kBodies[n.toInt() - 1]);
        return all;
    }
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void startUp_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("logLines"); // bad tokens', one per line
        const auto row = [](const char *tag, const char *commandLine, const char *fields,
                            const char *logLines = "") {
            QTest::newRow(tag) << QString::fromLatin1(commandLine) << QString::fromLatin1(fields)
                               << QString::fromLatin1(logLines);
        };
        row("none", "", "7005 192.168.0.43 0 | 7018 192.168.0.43 0 | period 20 | count 11 | * | ");
        row("full", "8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True ipnd3.x01",
            "8000 127.0.0.1 1 | 8001 127.0.0.1 0 | period 5 | count 00 | Lab1-* | .\\ipnd3.x01");
        row("period 0 keeps 20, booleans any case", "1 h tRuE 2 h 2.5 0",
            "1 h 1 | 2 h 1 | period 20 | count 11 | * | ");
        row("period beyond 16 bits", "1 h 0 2 h 0 70000",
            "1 h 0 | 2 h 0 | period 20 | count 11 | * | ",
            "Period token \"70000\" is outside the range -32768 to 32767; Period stays 20");
        // Words that read as numbers elsewhere are no numbers here; the title's "[*]" is text.
        row("bad booleans and period", "1 h inf 2 h NaN 99999999999 [*]T[*][*] -Infinity",
            "1 h 0 | 2 h 0 | period 20 | count 11 | [*]T[*][*]* | ",
            "Type4Enable token \"inf\" is not True, False or a number; Type4Enable stays False\n"
            "Type5Enable token \"NaN\" is not True, False or a number; Type5Enable stays False\n"
            "Period token \"99999999999\" is not a whole number; Period stays 20\n"
            "Unlimited token \"-Infinity\" is not True, False or a number; Unlimited stays False "
            "and its box stays ticked");
    }

    // Start-up logs only bad tokens, opens no file and shows the Type 4 frame.
    void startUp() {
        QFETCH(QString, commandLine);
        QFETCH(QString, fields);
        QFETCH(QString, logLines);
        WindowFixture f(commandLine);
        QCOMPARE(startupFields(f.w(), commandLine), fields);
        QVERIFY(f.w().chkUnlimited->isChecked());
        QStringList expected = logLines.split(u'\n', Qt::SkipEmptyParts);
        for (QString &line : expected)
            line.prepend(u"Command line: "_s);
        QCOMPARE(f.logLines(), expected);
        QVERIFY(!f.w().ipndDataFile().isOpen());
        QCOMPARE(operatorView(f).value(u"frame"_s), u"4"_s);
        QVERIFY(f.w().Timer1->isActive() && !f.w().hasLinks());
    }

    // Each control acts on a change of its state, however it came: the same effect.
    // The mouse and keys reach the buttons through Qt's own state changes; the
    // accessibility bus drives the options, the chart and the file boxes in
    // atspi_window.py.
    void controlsActOnEveryMeans_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("means");
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<QString>("effect");
        const auto rows = [](const char *control, const char *means, const char *prepare,
                             const char *effect) {
            for (const QString &how : QString::fromLatin1(means).split(u' '))
                QTest::addRow("%s by %s", control, qPrintable(how))
                    << QString::fromLatin1(control) << how << QString::fromLatin1(prepare)
                    << QString::fromLatin1(effect);
        };
        rows("AML (Type5)", "code", "", "frame=5");
        rows("Unlimited Pkts", "code", "unlimited", "count=11");
        rows("IPND data file", "mouse Return Space", "", "dialogs=IPND Data File");
        rows("XML data file", "Enter", "AML (Type5)", "dialogs=XML Data File");
        rows("Start", "code", "", "run=Stop");
        rows("Period", "mouse Tab", "", "period=5"); // takes effect when the focus leaves
    }

    void controlsActOnEveryMeans() {
        QFETCH(QString, control);
        QFETCH(QString, means);
        QFETCH(QString, prepare);
        QFETCH(QString, effect);
        WindowFixture f(u"7005 127.0.0.1 0 7018 127.0.0.1 0"_s +
                        (prepare == u"unlimited" ? u" 20 Lab- True"_s : QString()));
        if (auto *option = qobject_cast<QRadioButton *>(controlNamed(f.w(), prepare)))
            option->setChecked(true);
        QWidget *target = controlNamed(f.w(), control);
        QVERIFY(target);
        QMap<QString, QString> expected = operatorView(f);
        expected[effect.section(u'=', 0, 0)] = effect.section(u'=', 1);
        act(f.w(), target, means);
        QTRY_COMPARE(operatorView(f), expected);
    }

    // The cycle stepped tick by tick: "run" presses Start or Stop, "tN" gives N
    // ticks each answered, "pN" types period N, "count N" sets the packets left
    // with the unlimited box cleared, "+row1" and "-row0" enable and disable a
    // row; then the records each row's receiver got and what the window shows.
    void cycle_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("toRow0");
        QTest::addColumn<QString>("toRow1");
        QTest::addColumn<QString>("shown"); // timer label, packets box
        const auto row = [](const char *tag, const char *steps, const char *toRow0,
                            const char *shown, const char *toRow1 = "") {
            QTest::newRow(tag) << QString::fromLatin1(steps) << QString::fromLatin1(toRow0)
                               << QString::fromLatin1(toRow1) << QString::fromLatin1(shown);
        };
        row("nothing before the twenty-first tick", "run t20", "", "Timer 19|10000");
        row("first packet at the twenty-first tick", "run t21", "1", "Timer 20|9999");
        row("the second at tick 41", "run t41", "1 2", "Timer 20|9999");
        row("stopped, nothing moves", "run t12 run t30 run t8", "", "Timer 19|10000");
        row("stop and start keep the tick count", "run t12 run t30 run t9", "1", "Timer 20|9999");
        row("a lower period makes the next tick a boundary", "run t10 p5 t1", "1", "Timer 10|9999");
        row("end of the file costs a period, then the first again", "p1 run t6", "1 2 3 1",
            "Timer 1|9999");
        row("a counted run runs out", "count 2 p1 run t4", "1 2", "Timer 1|0");
        row("Stop and Start restart the count and the file", "count 2 p1 run t4 run run t1",
            "1 2 1", "Timer 1|9999");
        // Period 2, four ticks after Start: row 1 (tick 0), row 0 (boundary), row 1, row 0.
        row("row 1 only: first tick after Start, then after the boundary", "-row0 +row1 p2 run t4",
            "", "Timer 1|9999", "1 2");
        row("both rows: the same record one tick apart", "+row1 p2 run t4", "1", "Timer 1|9999",
            "1");
        row("neither row: the count still runs down", "-row0 p2 run t4", "", "Timer 1|9999");
    }

    void cycle() {
        QFETCH(QString, steps);
        QFETCH(QString, toRow0);
        QFETCH(QString, toRow1);
        QFETCH(QString, shown);
        CycleFixture f;
        const QStringList words = steps.split(u' ');
        for (int i = 0; i < words.size(); ++i) {
            const QString &step = words[i];
            if (step == u"run") {
                f.w().RunControl_Click();
            } else if (step == u"count") {
                QTest::mouseClick(f.w().chkUnlimited, Qt::LeftButton);
                f.w().gPktRemaining = qint16(words[++i].toInt());
            } else if (step.endsWith(u"row0") || step.endsWith(u"row1")) {
                f.w().chkEnable[step.back() == u'1']->setChecked(step[0] == u'+');
            } else if (step.startsWith(u'p')) {
                f.setPeriod(step.mid(1).toInt());
            } else {
                QVERIFY(f.answeredTicks(step.mid(1).toInt()));
            }
        }
        QCOMPARE(f.w().timerlabel->text() + u'|' + f.w().PktNum->text(), shown);
        // Each record reached its receiver framed, once, and was logged as sent.
        QTRY_COMPARE(f.row0.receivedByConnection().join(), CycleFixture::frames(toRow0));
        QTRY_COMPARE(f.row1.receivedByConnection().join(), CycleFixture::frames(toRow1));
        QCOMPARE(f.sentBodies().size(),
                 (toRow0 + u' ' + toRow1).split(u' ', Qt::SkipEmptyParts).size());
    }

    void boundaryWhileLink1IsConnected() {
        CycleFixture f;
        f.row0.answer.clear(); // a receiver that never answers
        Type4Link &link = f.w().frmTCP1();
        link.timerTCP().stop(); // step the send poll by hand
        f.setPeriod(1);
        f.w().RunControl_Click();
        f.w().Timer1_Timer();
        f.w().Timer1_Timer();
        link.SendTCPPacket();
        QTRY_COMPARE(link.wskMessage().socketState(), SocketState::Connected);
        link.SendTCPPacket();
        QTRY_COMPARE(f.row0.received(0), frameFileRecord(kBodies[0]));
        f.w().Timer1_Timer(); // a boundary with link 1 busy: nothing sent, the count kept
        QCOMPARE(f.sentBodies(), QByteArrayList{kBodies[0]});
        QCOMPARE(f.w().PktNum->text(), u"9999"_s);
        link.SendTCPPacket();
        QCOMPARE(f.logLines().last(), u"Close Socket"_s);
        f.w().Timer1_Timer();
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBodies[0], kBodies[1]}));
    }

    void badEntriesAreLoggedAndKept_data() {
        QTest::addColumn<QString>("entry"); // period, port or a button's port
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logLine");
        const QString period = u"Period \"%1\" is not a whole number from 1 to 32767; the "
                               u"period stays 20"_s;
        const QString port = u"Port \"%1\" of the Type 4 socket is not a number from 1 to "
                             u"65535; packet not sent"_s;
        QTest::newRow("period beyond its range")
            << u"period"_s << u"40000"_s << period.arg(u"40000"_s);
        QTest::newRow("port beyond 16 bits") << u"port"_s << u"70000"_s << port.arg(u"70000"_s);
        QTest::newRow("a button's port") << u"button"_s << u"port"_s << port.arg(u"port"_s);
    }

    void badEntriesAreLoggedAndKept() {
        QFETCH(QString, entry);
        QFETCH(QString, text);
        QFETCH(QString, logLine);
        CycleFixture f;
        if (entry == u"period") {
            f.w().PktPer->setText(text);
            f.w().PktPer_LostFocus();
            QCOMPARE(f.w().PktPer->text() + QString::number(f.w().gPktPeriod), u"2020"_s);
        } else if (entry == u"port") {
            f.setRow(0, text, true);
            f.setPeriod(1);
            f.w().RunControl_Click();
            QVERIFY(f.answeredTicks(2));
            QCOMPARE(f.w().gPktRemaining, qint16(9999)); // the boundary still counts
        } else {
            f.w().txbPort[0]->setText(text);
            QTest::mouseClick(f.w().cmdMaxAdd, Qt::LeftButton);
        }
        QCOMPARE(f.logLines().last(), logLine);
        QVERIFY(f.sentBodies().isEmpty());
        QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
    }

    void buttonsSendTheirExactFrame_data() {
        QTest::addColumn<int>("button"); // 0 Standard, 1 No Add, 2 Long, 3 Min, 4 Max
        QTest::addColumn<int>("shape");  // -1: "MOLI Data" off
        QTest::addColumn<QString>("termId");
        QTest::addColumn<QByteArray>("frame");
        const auto moli = cannedMoliRecords();
        const auto row = [](const char *tag, int button, int shape, const char *header,
                            const QByteArray &record, const char *termId = "999") {
            QTest::newRow(tag) << button << shape << QString::fromLatin1(termId) << header + record;
        };
        using enum CannedRecord;
        row("Standard + Point", 0, 0, "99904124", cannedIpndRecord(Standard) + moli[0]);
        row("Min + None: no location", 3, 5, "99901874", cannedIpndRecord(Min) + moli[5]);
        row("Max + MOLI takes the full record whatever the shape", 4, 1, "99912914",
            cannedIpndRecord(Max) + moli[6]);
        row("terminal id as typed", 0, -1, "1234503073", cannedIpndRecord(Standard), "12345");
    }

    // Each button's frame on the wire and in the log; its answer shown, counted and charted.
    void buttonsSendTheirExactFrame() {
        QFETCH(int, button);
        QFETCH(int, shape);
        QFETCH(QString, termId);
        QFETCH(QByteArray, frame);
        CycleFixture f(false);
        // The answer is the subject here, not link 1's close at its first poll: on a
        // loaded machine that poll may come before the peer in this process has answered.
        f.w().frmTCP1().setHoldAfterSendMs(30000);
        f.row0.answer = QByteArray("O\tK\r\nD\0", 7);
        f.w().txbTermID->setText(termId);
        f.w().chkMOLI->setChecked(shape >= 0);
        clickOption(f.w().optMOLI[shape >= 0 ? shape : 5]);
        QTest::mouseClick(f.w().*kCannedButtons[button], Qt::LeftButton);
        QCOMPARE(f.logLines().last(), u"--> "_s + QString::fromLatin1(frame));
        QTRY_COMPARE(f.row0.received(0), frame);
        QTRY_COMPARE(f.w().lbProcessed->text(), u"1"_s);
        // Tab and line break as themselves, a byte no box can show by its name.
        QVERIFY2(f.w().txbMessage->toPlainText().endsWith(u" O\tK\nD<NUL>"_s),
                 qPrintable(f.w().txbMessage->toPlainText()));
#if TALVGEN_CHART
        QCOMPARE(f.w().responseChart->points(ResponseChart::Type4).size(), 1u);
#endif
    }

    // With AML selected the Type 4 buttons send nothing; with MOLI selected Send does nothing.
    void buttonsOfTheOtherType() {
        CycleFixture f(false);
        f.w().SendType5Packet();
        QVERIFY(f.w().frmTCP2().gPendingType5Packet.isEmpty());
        QCOMPARE(f.w().logText(), QString());
        clickOption(f.w().optRecType[1]);
        f.w().cmdStandard_Click();
        QCOMPARE(f.logLines().last(), u"--> "_s);
        QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
        f.w().Timer1->start();
        f.w().close(); // unloading destroys both links and stops the timer
        QVERIFY(!f.w().hasLinks() && !f.w().Timer1->isActive());
    }

#if TALVGEN_CHART
    void chartKeepsTheLatestPoints_data() {
        QTest::addColumn<QList<qint64>>("usecs"); // on link 0, oldest first
        QTest::addColumn<int>("kept");
        QTest::addColumn<double>("oldestMs");
        QTest::addColumn<int>("delayed");
        QTest::newRow("the delay limit itself is not delayed")
            << QList<qint64>{1'999'999, 2'000'000, 2'000'001} << 3 << 1999.999 << 1;
        QList<qint64> many;
        for (qint64 i = 1; i <= 25'000; ++i)
            many << i * 1000;
        QTest::newRow("25,000 responses: the last 10,000") << many << 10'000 << 15'001.0 << 10'000;
    }

    // Bounded whatever the run's length; drawn once after a burst, not per response.
    void chartKeepsTheLatestPoints() {
        QFETCH(QList<qint64>, usecs);
        QFETCH(int, kept);
        QFETCH(double, oldestMs);
        QFETCH(int, delayed);
        ResponseChart chart;
        chart.show();
        for (qint64 usec : usecs)
            chart.addResponse(0, usec);
        const auto &points = chart.points(ResponseChart::Type4);
        QCOMPARE(qsizetype(points.size()), qsizetype(kept));
        QCOMPARE(points.front().y(), oldestMs); // the newest kept, in ms
        QCOMPARE(qsizetype(chart.points(ResponseChart::Delayed).size()), qsizetype(delayed));
        QCOMPARE(chart.redrawCount(), 0);
        QTRY_COMPARE(chart.redrawCount(), 1);
        QCOMPARE(chart.drawnCount(ResponseChart::Type4), qsizetype(kept));
        QCOMPARE(chart.drawnCount(ResponseChart::Delayed), qsizetype(delayed));
        QTest::qWait(2 * ResponseChart::kRedrawMs);
        QCOMPARE(chart.redrawCount(), 1); // nothing new, nothing drawn
    }
#endif
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
