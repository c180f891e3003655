// SPDX-License-Identifier: GPL-3.0-or-later
// The window, offscreen, against talvrecv running as a separate process: every
// frame the data-file cycle sends is one talvrecv reports valid, and the window
// counts talvrecv's answers. The Type 5 side and heartbeats are proven by the
// link, type5 and receiver tests on their own.
#include "talvrecvprocess.h"
#include "windowfixture.h"

#include "type4link.h"

#include <QLabel>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

constexpr int kWaitMs = 15'000; // generous: sanitizer builds on a busy machine

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // Both rows, period 2: each record goes to row 0 at a boundary and to row 1
    // (talvrecv's Type 5 port) on link 1 one tick later. Link 1's send poll is
    // stepped by hand so that a real tick cannot close a link still waiting for
    // its answer on a slow machine.
    void dataFileCycle() {
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"verdicts.csv"_s);
        TalvrecvProcess receiver({u"--csv"_s, csv});
        QVERIFY(receiver.waitListening());
        WindowFixture f;
        f.w().Timer1->stop();
        Type4Link &link = f.w().frmTCP1();
        link.timerTCP().stop();
        f.setRow(0, QString::number(receiver.type4Port), true);
        f.setRow(1, QString::number(receiver.type5Port), true);
        f.dialog->answer = QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01");
        f.w().lbIPNDfile_Click();
        f.setPeriod(2);
        f.w().RunControl_Click();
        const auto reaches = [&](SocketState state) {
            link.SendTCPPacket();
            return QTest::qWaitFor([&] { return link.wskMessage().socketState() == state; },
                                   kWaitMs);
        };
        for (int tick = 0; tick < 6; ++tick) {
            f.w().Timer1_Timer();
            QVERIFY(link.gPendingType4Packet.isEmpty() ||
                    (reaches(SocketState::Connected) && reaches(SocketState::Closed)));
        }
        QCOMPARE(f.sentBodies().size(), 4);
        // talvrecv's rows are on disk as it writes them: every frame valid, every other
        // one on its Type 5 port.
        const auto rows = [&csv] {
            QFile file(csv);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(rows().count(",frame,term "), 4, kWaitMs);
        QVERIFY(rows().startsWith("time,side,peer,event,detail,verdict,reason\r\n"));
        QCOMPARE(rows().count(",OK,\r\n"), 4);
        QCOMPARE(rows().count(" on port "), 2);
        QCOMPARE(f.w().lbProcessed->text(), u"4"_s);
        // SIGTERM (on Windows QProcess::terminate's WM_CLOSE) ends talvrecv with exit 0 and a
        // summary that counts every frame valid.
        QCOMPARE(receiver.waitExit(true), 0);
        QVERIFY2(
            receiver.output().contains(u"\nsummary: frames received 4, valid 4, invalid 0\n"_s),
            qPrintable(receiver.output()));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
