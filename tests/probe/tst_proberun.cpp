// SPDX-License-Identifier: GPL-3.0-or-later
// The robustness probe against receivers on 127.0.0.1: the reference receiver
// survives every family; receivers written weak on purpose are each caught, and
// the replay file of the case that caught them catches them again.
#include "probereplay.h"
#include "proberun.h"
#include "receiver.h"
#include "receiverwords.h"
#include "type4frame.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

bool wellFormed(const QByteArray &document) {
    QXmlStreamReader reader(document);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

// A receiver with one weakness, named by the row:
//  "deaf after a bad length": a connection that ends inside a frame whose length is
//     more than its body leaves it answering nothing for a second;
//  "hangs on a trickle": a frame that comes in more than 8 reads hangs it for a second;
//  "closes on a bad document": a document that is not well-formed XML closes its
//     Type 5 listener for good.
// Otherwise it answers ACK to each valid frame and each document.
class WeakReceiver : public QObject {
public:
    explicit WeakReceiver(const QString &weakness)
        : m_weakness(weakness) {
        for (QTcpServer *server : {&m_type4, &m_type5}) {
            server->listen(QHostAddress::LocalHost);
            connect(server, &QTcpServer::newConnection, this, [this, server] {
                while (QTcpSocket *socket = server->nextPendingConnection())
                    take(socket, server == &m_type5);
            });
        }
    }
    quint16 type4Port() const { return m_type4.serverPort(); }
    quint16 type5Port() const { return m_type5.serverPort(); }

private:
    bool deaf() const { return m_deafUntil.isValid() && !m_deafUntil.hasExpired(1000); }

    void take(QTcpSocket *socket, bool documents) {
        auto *buffer = new QByteArray;
        auto *reads = new int(0);
        connect(socket, &QObject::destroyed, [buffer, reads] {
            delete buffer;
            delete reads;
        });
        connect(socket, &QTcpSocket::readyRead, this, [=, this] {
            *buffer += socket->readAll();
            ++*reads;
            if (documents)
                takeDocument(socket, *buffer);
            else
                takeFrames(socket, *buffer, *reads);
        });
        connect(socket, &QTcpSocket::disconnected, this, [=, this] {
            Type4Frame frame;
            qsizetype consumed = 0;
            if (!documents && m_weakness == u"deaf after a bad length"_s && !buffer->isEmpty() &&
                Type4Frame::parse(*buffer, consumed, frame) == Type4Frame::ParseResult::NeedMore &&
                frame.length > 0)
                m_deafUntil.start();
            if (documents && !buffer->trimmed().isEmpty())
                judgeDocument(*buffer); // a document cut off by the close
            socket->deleteLater();
        });
    }

    void takeFrames(QTcpSocket *socket, QByteArray &buffer, int reads) {
        for (;;) {
            Type4Frame frame;
            qsizetype consumed = 0;
            const auto result = Type4Frame::parse(buffer, consumed, frame);
            if (result == Type4Frame::ParseResult::NeedMore)
                return;
            buffer.remove(0, consumed);
            if (result == Type4Frame::ParseResult::Garbage)
                return;
            if (m_weakness == u"hangs on a trickle"_s && reads > 8)
                m_deafUntil.start();
            if (!deaf())
                socket->write("ACK");
        }
    }

    void takeDocument(QTcpSocket *socket, QByteArray &buffer) {
        const QByteArray end = "</CLI_Data>";
        const qsizetype at = buffer.indexOf(end);
        if (at < 0)
            return;
        const QByteArray document = buffer.left(at + end.size());
        buffer.remove(0, at + end.size());
        judgeDocument(document);
        if (!deaf())
            socket->write("ACK");
    }

    void judgeDocument(const QByteArray &document) {
        if (m_weakness == u"closes on a bad document"_s && !wellFormed(document))
            m_type5.close();
    }

    QString m_weakness;
    QTcpServer m_type4;
    QTcpServer m_type5;
    QElapsedTimer m_deafUntil;
};

struct ProbeOutput {
    int status = -1;
    QString out;
    QString err;
};

ProbeOutput probe(quint16 type4Port, quint16 type5Port, const QStringList &options) {
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const QStringList arguments = QStringList{u"talvgen-cli"_s, u"probe"_s,
                                              u"--type4"_s,     u"127.0.0.1:%1"_s.arg(type4Port),
                                              u"--type5"_s,     u"127.0.0.1:%1"_s.arg(type5Port)} +
                                  options;
    ProbeOutput result;
    result.status = runProbe(arguments, out, err);
    result.out = QString::fromLocal8Bit(out.data());
    result.err = QString::fromLocal8Bit(err.data());
    return result;
}

} // namespace

class TestProbeRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // talvrecv's own robustness, stated as a test: one case of every family, and
    // many of those that do not wait on purpose, leave it alive.
    void referenceReceiverSurvives_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("a case of every family") << QStringList{u"--cases"_s, u"22"_s};
        QTest::newRow("the quick families, many cases")
            << QStringList{u"--cases"_s, u"120"_s,
                           u"--only"_s,  u"type4-length"_s,
                           u"--only"_s,  u"type4-body-size"_s,
                           u"--only"_s,  u"type4-fields"_s,
                           u"--only"_s,  u"type5-xml"_s,
                           u"--only"_s,  u"type5-missing"_s,
                           u"--only"_s,  u"tcp-split"_s,
                           u"--seed"_s,  u"7"_s};
    }

    void referenceReceiverSurvives() {
        QFETCH(QStringList, options);
        Receiver talvrecv(receiverOptions(u"heartbeat 200"_s));
        QVERIFY(talvrecv.start());
        const QString junit = m_dir.filePath(u"talvrecv.xml"_s);
        const ProbeOutput run = probe(
            talvrecv.type4Port(), talvrecv.type5Port(),
            options + QStringList{u"--out"_s, m_dir.filePath(u"none"_s), u"--junit"_s, junit});
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(u"Result: PASS"_s), qPrintable(run.out));
        QVERIFY(!QDir(m_dir.filePath(u"none"_s)).exists());
    }

    // Each weakness is found by the family that provokes it, the case's replay file
    // is written, and replaying it against a fresh receiver with the same weakness
    // fails again (exit 1), while the reference receiver passes it.
    void weaknessFoundAndReplayed_data() {
        QTest::addColumn<QString>("weakness");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("summary"); // the family's summary line
        QTest::addColumn<QString>("cases");
        QTest::newRow("deaf after a bad length")
            << u"deaf after a bad length"_s << u"type4-body-size"_s
            << u"^type4-body-size +cases \\d+, failures [1-9]\\d*, longest recovery \\d+ ms$"_s
            << u"3"_s;
        QTest::newRow("hangs on a trickle")
            << u"hangs on a trickle"_s << u"tcp-trickle"_s
            << u"^tcp-trickle +cases 1, failures 1, longest recovery \\d+ ms$"_s << u"1"_s;
        QTest::newRow("closes on a bad document")
            << u"closes on a bad document"_s << u"type5-xml"_s
            << u"^type5-xml +cases 1, failures 1, longest recovery never$"_s << u"3"_s;
    }

    void weaknessFoundAndReplayed() {
        QFETCH(QString, weakness);
        QFETCH(QString, family);
        QFETCH(QString, summary);
        QFETCH(QString, cases);
        const QString out = m_dir.filePath(weakness);
        QString replayFile;
        {
            WeakReceiver weak(weakness);
            const ProbeOutput run =
                probe(weak.type4Port(), weak.type5Port(),
                      {u"--only"_s, family, u"--cases"_s, cases, u"--recover-s"_s, u"2"_s,
                       u"--alive-ms"_s, u"300"_s, u"--out"_s, out});
            QVERIFY2(run.status == 1, qPrintable(run.out + run.err));
            QVERIFY2(!run.out.split(u'\n').filter(QRegularExpression(summary)).isEmpty(),
                     qPrintable(run.out));
            const QStringList files = QDir(out).entryList({u"*.json"_s}, QDir::Files);
            QVERIFY2(!files.isEmpty(), qPrintable(run.out));
            replayFile = QDir(out).filePath(files.constFirst());
            QVERIFY2(run.out.contains(u"replay "_s + replayFile), qPrintable(run.out));
        }
        QString error;
        const std::optional<ProbeCase> kept = readReplayFile(replayFile, &error);
        QVERIFY2(kept, qPrintable(error));
        QCOMPARE(kept->family, family);
        WeakReceiver again(weakness);
        const ProbeOutput replay = probe(again.type4Port(), again.type5Port(),
                                         {u"--replay"_s, replayFile, u"--recover-s"_s, u"1"_s,
                                          u"--alive-ms"_s, u"300"_s, u"--out"_s, out});
        QVERIFY2(replay.status == 1, qPrintable(replay.out + replay.err));
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        const ProbeOutput survives =
            probe(talvrecv.type4Port(), talvrecv.type5Port(), {u"--replay"_s, replayFile});
        QVERIFY2(survives.status == 0, qPrintable(survives.out + survives.err));
    }

    // Two runs of one seed record the same cases, byte for byte (by the SHA-1 of each).
    void sameSeedSameCases() {
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        QList<QStringList> runs;
        for (const QString &name : {u"first.csv"_s, u"second.csv"_s}) {
            const QString csv = m_dir.filePath(name);
            const ProbeOutput run = probe(talvrecv.type4Port(), talvrecv.type5Port(),
                                          {u"--seed"_s, u"99"_s, u"--cases"_s, u"30"_s, u"--only"_s,
                                           u"type4-fields"_s, u"--only"_s, u"type5-range"_s,
                                           u"--only"_s, u"tcp-coalesced"_s, u"--csv"_s, csv});
            QCOMPARE(run.status, 0);
            QFile file(csv);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QStringList rows;
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    rows << QString::fromLatin1(line.mid(line.indexOf(',') + 1)); // not the time
            runs << rows;
        }
        QCOMPARE(runs.at(0).size(), 31);
        QCOMPARE(runs.at(1), runs.at(0));
    }

    // Ctrl-C in the middle of a case: the summary at once, the case in flight
    // unjudged, exit 130.
    void stoppedByCtrlC() {
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        QTimer::singleShot(700, [] { std::raise(SIGINT); });
        const ProbeOutput run = probe(talvrecv.type4Port(), talvrecv.type5Port(),
                                      {u"--only"_s, u"tcp-trickle"_s, u"--cases"_s, u"10"_s});
        QCOMPARE(run.status, 128 + SIGINT);
        QVERIFY2(run.out.contains(QRegularExpression(
                     u"\nResult: STOPPED by SIGINT after [0-9] cases, none failed\n"_s)),
                 qPrintable(run.out));
    }

    // A replay file is the case exactly: written and read back, every byte and wait.
    void replayFileRoundTrip() {
        ProbeCase probe;
        probe.family = u"tcp-trickle"_s;
        probe.seed = 18'446'744'073'709'551'615ULL;
        probe.number = 41;
        probe.title = u"a byte at a time"_s;
        probe.link = ProbeLink::Type5;
        probe.writes = {{QByteArray("\x00\xff\x02H\x03", 5), 0}, {"abc", 1500}};
        probe.ending = ProbeEnding::HoldOpen;
        probe.holdMs = 250;
        probe.connections = 3;
        probe.heartbeat = ProbeHeartbeat::Late;
        probe.heartbeatLateMs = 700;
        QString error;
        const std::optional<ProbeCase> back = readReplayDocument(replayDocument(probe), &error);
        QVERIFY2(back, qPrintable(error));
        QCOMPARE(*back, probe);
        QVERIFY(!readReplayDocument("{\"family\": \"nope\"}", &error));
        QVERIFY(!readReplayDocument("not json", &error));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("problem");
        QTest::newRow("unknown family")
            << QStringList{u"--only"_s, u"type9"_s} << u"--only wants one of "_s;
        QTest::newRow("cases and duration")
            << QStringList{u"--cases"_s, u"5"_s, u"--duration"_s, u"5"_s}
            << u"--cases and --duration cannot go together"_s;
        QTest::newRow("connections bounded") << QStringList{u"--max-connections"_s, u"5000"_s}
                                             << u"--max-connections wants a whole number from 1 "
                                                "to 1000, not \"5000\""_s;
        QTest::newRow("replay file missing") << QStringList{u"--replay"_s, u"/nonexistent.json"_s}
                                             << u"/nonexistent.json: cannot be read"_s;
    }

    void usageErrors() {
        QFETCH(QStringList, options);
        QFETCH(QString, problem);
        const ProbeOutput run = probe(1, 1, options);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith(u"talvgen-cli probe: "_s + problem), qPrintable(run.err));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestProbeRun)
#include "tst_proberun.moc"
