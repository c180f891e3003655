// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver as its peers and its operator see it: what each stream of bytes
// is judged to be, the lines and the summary, the command line, the sockets on
// 127.0.0.1 under well-behaved and hostile peers, and the talvrecv program itself.
#include "amllayout.h"
#include "cannedrecords.h"
#include "connectionstream.h"
#include "outgoingconnection.h"
#include "receiver.h"
#include "receiverconnection.h"
#include "receiverlines.h"
#include "receiveroptions.h"
#include "receiverstats.h"
#include "resetprobe.h"
#include "talvrecvprocess.h"
#include "testtext.h"
#include "type4frame.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextStream>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

using Action = ReceiverCommandLine::Action;

namespace {

const QString kNow = u"2024-03-05 14:07:09.000"_s;

QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

const QString kStandardOk = u"term 999 len 0307 type 3 fields 52 OK"_s;

// Field 52 missing.
QByteArray shortFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard).chopped(2), false);
}

// Both ports on 127.0.0.1 port 0, no heartbeats unless a test asks.
ReceiverOptions testOptions(int heartbeatIntervalMs = 0) {
    ReceiverOptions options;
    options.type4Port = 0;
    options.type5Port = 0;
    options.heartbeatIntervalMs = heartbeatIntervalMs;
    return options;
}

struct TestReceiver : Receiver {
    explicit TestReceiver(const ReceiverOptions &options = testOptions())
        : Receiver(options) {
        setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); });
        connect(this, &Receiver::lineReady, this, [this](const QString &line) { lines << line; });
        connect(this, &Receiver::recordReady, this,
                [this](const QStringList &fields) { records << fields; });
    }

    ReceiverConnection *onlyConnection() const {
        return connections().size() == 1 ? connections().first() : nullptr;
    }

    QStringList lines;
    QList<QStringList> records;
};

struct Client : QObject {
    explicit Client(quint16 port) {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { data += socket.readAll(); });
        connect(&socket, &QTcpSocket::connected, this,
                [this] { peer = u"127.0.0.1:%1"_s.arg(socket.localPort()); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // Under Wine a reset reaches a socket's notifier only with its next write;
    // the socket itself knows at once.
    bool isClosed() const {
        return socket.state() == QAbstractSocket::UnconnectedState ||
               takePendingReset(socket.socketDescriptor());
    }

    QTcpSocket socket;
    QByteArray data;
    QString peer; // as the receiver names this client; kept after a close
};

// Feeds data in pieces of the given size (0: all at once), then ends the
// connection; returns each event as its line text.
QStringList run(ConnectionStream &stream, const QByteArray &data, qsizetype piece) {
    QList<StreamEvent> events;
    const qsizetype step = piece > 0 ? piece : qMax<qsizetype>(data.size(), 1);
    for (qsizetype at = 0; at < data.size(); at += step)
        events += stream.feed(QByteArrayView(data).sliced(at, qMin(step, data.size() - at)));
    events += stream.finish();
    QStringList texts;
    for (const StreamEvent &event : events)
        texts << describeEvent(event);
    return texts;
}

void row(const char *name, const QByteArray &wire, const QStringList &lines,
         StreamKind kind = StreamKind::Type4) {
    QTest::newRow(name) << wire << lines << kind;
}

void row(const char *name, const QByteArray &wire, const char *line) {
    row(name, wire, QStringList{QString::fromLatin1(line)},
        wire.startsWith('<') ? StreamKind::Type5 : StreamKind::Type4);
}

// The program name, then the words of line.
QStringList argv(const char *line) {
    return QStringList{u"talvrecv"_s} + words(line);
}

// Every setting the command line reaches, in one line: address, ports,
// delay, no-reply, reply, heartbeat interval and answer timeout, refusals,
// close-after-reply, duration, quiet, reset.
QString settings(const ReceiverOptions &o) {
    QString text;
    QTextStream(&text) << o.listenAddress.toString() << ' ' << o.type4Port << ' ' << o.type5Port
                       << ' ' << o.delayMs << ' ' << o.noReply << ' '
                       << QString::fromLatin1(o.reply) << ' ' << o.heartbeatIntervalMs << ' '
                       << o.heartbeatAnswerTimeoutMs << ' ' << o.refuseType4 << ' ' << o.refuseType5
                       << ' ' << o.closeAfterReply << ' ' << o.durationMs << ' ' << o.quiet << ' '
                       << o.resetConnections;
    return text;
}

void optionRow(const char *name, const QStringList &arguments, Action action, const char *text) {
    QTest::newRow(name) << arguments << action << QString::fromLatin1(text);
}

// The receiver's lines about this client, from what they say after the peer.
QStringList linesFor(const Client &client, QStringList texts, const char *side = "T4") {
    for (QString &text : texts)
        text = u"%1 %2 %3 %4"_s.arg(kNow, QLatin1String(side), client.peer, text);
    return texts;
}

enum ReplyCase {
    NoReply = 1,
    CloseAfterReply = 2,
    HangUp = 4,
    OnType5Port = 8,
    Reset = 16,
    HalfClose = 32
};

} // namespace

class ReceiverTests : public QObject {
    Q_OBJECT

private slots:
    // Each stream is fed a byte at a time (lines in wire order), whole, and in
    // pieces of 7 and 100.
    void stream_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<StreamKind>("kind");
        const QByteArray standard = standardFrame();
        const QByteArray point = frameCannedRecord(
            "999", cannedIpndRecord(CannedRecord::Standard) + cannedMoliRecords()[kMoliPoint],
            true);
        const QByteArray doc = cannedAmlDocument();
        const QByteArray answer = heartbeatAnswerBytes();
        const QString docOk = u"document 116 lines %1 bytes OK"_s.arg(doc.size());
        const QString hb = u"heartbeat answer"_s;
        const QByteArray longFrame = frameCannedRecord("999", '|' + QByteArray(123456, 'b'), false);
        row("frames back to back, long ones too", standard + point + longFrame + standard,
            {kStandardOk, u"term 999 len 0412 type 4 fields 52+46 OK"_s,
             u"term 999 len 123458 type 3 fields 1 INVALID: type 3 with 1 fields, expected 52"_s,
             kStandardOk});
        row("answers around documents", answer + answer + doc + answer + doc + answer,
            {hb, hb, docOk, hb, docOk, hb}, StreamKind::Type5);
        row("length one too many", "999" + type4LengthField(308) + standard.sliced(7),
            "incomplete frame 314 bytes INVALID: length 308, but the body has 307 characters");
        row("field missing", shortFrame(),
            "term 999 len 0305 type 3 fields 51 INVALID: type 3 with 51 fields, expected 52");
        // Nothing marks where the next frame starts: the stream takes nothing more.
        row("garbage, then a frame", frameCannedRecord("99", "|A|B", false) + standard,
            "garbage INVALID: no length of at least 4 digits, type digit and \"|\" after the "
            "terminal ID");
        row("announces more than the limit", "99910485773|" + standard,
            "term 999 len 1048577 INVALID: frame too long, the limit is 1048576 characters");
        row("document cut short", doc.first(500),
            "incomplete document 500 bytes INVALID: connection ended before </CLI_Data>");
    }

    void stream() {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, lines);
        QFETCH(StreamKind, kind);
        for (const qsizetype piece : {1, 0, 7, 100}) {
            ConnectionStream stream;
            QStringList got = run(stream, wire, piece);
            QCOMPARE(stream.kind(), kind);
            if (piece != 1) { // answers in a read are reported ahead of what else it ends
                got.sort();
                lines.sort();
            }
            QCOMPARE(got, lines);
        }
    }

    // text: the settings a run gets, what the help contains, or the usage error.
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("text");
        optionRow("defaults", argv(""), Action::Run,
                  "127.0.0.1 7005 7018 0 0 ACK 30000 2000 0 0 0 0 0 0");
        // The reply is typed in UTF-8 and goes on the wire as Latin-1 bytes.
        optionRow(
            "every option",
            argv("--listen ::1 --type4-port 0 --type5-port 65535 --delay 250 --no-reply --reply "
                 "OK\u00e9 --heartbeat 0.5 --refuse type5 --refuse type4 --close-after-reply "
                 "--duration 2 --quiet --reset"),
            Action::Run, "::1 0 65535 250 1 OK\xe9 500 2000 1 1 1 2000 1 1");
        optionRow("unknown option", argv("--bogus"), Action::UsageError, "Unknown option 'bogus'.");
        optionRow("port beyond 16 bits", argv("--type4-port 65536"), Action::UsageError,
                  "bad value \"65536\" for --type4-port");
    }

    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(QString, text);
        const ReceiverCommandLine line = parseReceiverCommandLine(arguments);
        QCOMPARE(line.action, action);
        if (action == Action::Run)
            QCOMPARE(settings(line.options), text);
        else if (action == Action::UsageError)
            QCOMPARE(line.error, text);
        else
            QVERIFY(line.helpText.contains(text));
    }

    // Each row sends standard frames; every one is valid. A second frame comes while
    // the first reply is still held, and waits its own delay.
    void replies_data() {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("replyCase");
        QTest::addColumn<int>("frames");
        QTest::newRow("delay holds each reply") << 300 << 0 << 2;
        QTest::newRow("delayed reply to a peer that hung up") << 300 << int(HangUp) << 1;
        QTest::newRow("no reply") << 0 << int(NoReply) << 1;
        QTest::newRow("close after reply") << 0 << int(CloseAfterReply) << 1;
        QTest::newRow("frame on the Type 5 port") << 0 << int(OnType5Port) << 1;
        QTest::newRow("reset where the reply would go") << 0 << int(Reset) << 1;
        // The sender ends its side right after the frame: answered, then closed.
        QTest::newRow("half-close after the frame") << 0 << int(HalfClose) << 1;
    }

    void replies() {
        QFETCH(int, delayMs);
        QFETCH(int, replyCase);
        QFETCH(int, frames);
        ReceiverOptions options = testOptions(60'000);
        options.delayMs = delayMs;
        options.noReply = replyCase & NoReply;
        options.closeAfterReply = replyCase & CloseAfterReply;
        options.resetConnections = replyCase & Reset;
        options.reply = "OK\r\n";
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        const bool onType5 = replyCase & OnType5Port;
        Client client(onType5 ? receiver.type5Port() : receiver.type4Port());
        QElapsedTimer elapsed;
        elapsed.start();
        if (replyCase & HalfClose) {
            QTRY_VERIFY(!client.peer.isEmpty());
            client.socket.write(standardFrame());
            QVERIFY(client.socket.flush());
            QVERIFY(OutgoingConnection::shutdownSending(client.socket.socketDescriptor()));
        } else {
            client.socket.write(standardFrame());
        }
        if (frames == 2)
            QTimer::singleShot(100, &client, [&] {
                client.socket.write(standardFrame());
                elapsed.start();
            });
        if (replyCase & HangUp)
            client.socket.disconnectFromHost();
        QTRY_VERIFY(!client.peer.isEmpty());
        QStringList lines(frames, kStandardOk);
        if (onType5)
            lines = {u"on port %1 %2"_s.arg(receiver.type5Port()).arg(kStandardOk)};
        if (replyCase & HangUp)
            lines << u"reply not sent, the connection closed before the delay ended"_s;
        if (replyCase & Reset)
            lines << u"connection reset instead of a reply"_s;
        QTRY_COMPARE(receiver.lines, linesFor(client, lines));
        const int replies = replyCase & (NoReply | HangUp | Reset) ? 0 : frames;
        QTRY_COMPARE(client.data, QByteArray("OK\r\n").repeated(replies));
        // An undelayed reply is sent along with its line, so this holds at once.
        QCOMPARE(receiver.stats().repliesSent, replies);
        QVERIFY2(replies == 0 || elapsed.elapsed() >= delayMs,
                 qPrintable(QString::number(elapsed.elapsed())));
        QTRY_COMPARE(client.isClosed(),
                     bool(replyCase & (CloseAfterReply | HangUp | Reset | HalfClose)));
        QCOMPARE(receiver.stats().connectionsDropped, replyCase & Reset ? 1 : 0);
        if (ReceiverConnection *connection = receiver.onlyConnection())
            QVERIFY(!connection->heartbeatsRunning()); // a frame stream owes no answers
    }

    // Time is stepped by hand. The late answer is unasked for; the next one
    // rides inside a document, in one write.
    void heartbeats() {
        TestReceiver receiver(testOptions(60'000));
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        QTRY_VERIFY(receiver.onlyConnection());
        ReceiverConnection *connection = receiver.onlyConnection();
        QVERIFY(connection->heartbeatsRunning());
        connection->heartbeatTick();
        connection->heartbeatAnswerTimeout();
        client.socket.write(heartbeatAnswerBytes());
        QTRY_COMPARE(receiver.lines.size(), 2);
        connection->heartbeatTick();
        connection->heartbeatTick(); // one heartbeat open at a time
        QTRY_COMPARE(client.data, heartbeatBytes().repeated(2));
        const QByteArray aml = cannedAmlDocument();
        client.socket.write(aml.first(100) + heartbeatAnswerBytes() + aml.sliced(100));
        QTRY_COMPARE(client.data, heartbeatBytes().repeated(2) + "ACK");
        connection->heartbeatAnswerTimeout(); // too late to matter
        const QRegularExpression anyMs(u"\\d+ ms\\b"_s);
        const QString document = u"document 116 lines %1 bytes"_s.arg(aml.size());
        QCOMPARE(
            QStringList(receiver.lines).replaceInStrings(anyMs, u"N ms"_s),
            linesFor(client,
                     texts({"heartbeat not answered within 2 s",
                            "heartbeat answer without a heartbeat", "heartbeat answered in N ms"})
                         << document + u" OK"_s,
                     "T5"));
        QCOMPARE(receiver.stats().exitStatus(), 1);
    }

    void summaryCountsEverything() {
        TestReceiver receiver;
        QVERIFY(receiver.start());
        Client frames(receiver.type4Port());
        frames.socket.write(standardFrame() + shortFrame() + standardFrame().first(20));
        QTRY_COMPARE(receiver.lines.size(), 2);
        frames.socket.disconnectFromHost();
        Client documents(receiver.type5Port());
        documents.socket.write(cannedAmlDocument() + cannedAmlDocument());
        QTRY_COMPARE(receiver.lines.size(), 5);
        QCOMPARE(receiver.stats().summaryLines(),
                 texts({"summary: frames received 3, valid 1, invalid 2",
                        "summary: documents received 2, valid 2, invalid 0",
                        "summary: invalid 1 x T4 length 307, but the body has 13 characters",
                        "summary: invalid 1 x T4 type 3 with 51 fields, expected 52",
                        "summary: heartbeats sent 0, answered 0, not answered 0, answers "
                        "without a heartbeat 0",
                        "summary: replies sent 3, not sent because the peer closed 0",
                        "summary: connections 2, dropped by the receiver 0"}));
        QCOMPARE(receiver.stats().exitStatus(), 1);
        QCOMPARE(receiver.records.value(1).mid(3),
                 texts({"frame", "term 999 len 0305 type 3 fields 51", "INVALID",
                        "type 3 with 51 fields, expected 52"}));
    }

    // The program itself says where it listens, quiet or not: with port 0 nothing else
    // tells a script where to connect; after a frame and SIGTERM, exit 0 and the summary
    // (quiet leaves out the line per frame). Or it ends with exit 2 and one line on what is
    // wrong, before it listens on either port ("@": a port in use); a usage error names the
    // program, not the path it was started by, and points to --help.
    void program_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output"); // a pattern of all it prints
        const QString listening = u"talvrecv listening: Type 4 on 127\\.0\\.0\\.1 port [1-9]\\d*, "
                                  "Type 5 on 127\\.0\\.0\\.1 port [1-9]\\d*\\n"_s;
        const QString frame = u"\\S+ \\S+ T4 127\\.0\\.0\\.1:\\d+ "_s +
                              QRegularExpression::escape(kStandardOk) + u"\\n"_s;
        const QString summary =
            u"summary: frames received 1, valid 1, invalid 0\\n(summary: [^\\n]*\\n)*"_s;
        QTest::newRow("a line per frame") << words("--heartbeat 0") << listening + frame + summary;
        QTest::newRow("quiet") << words("--heartbeat 0 --quiet") << listening + summary;
        QTest::newRow("port in use")
            << words("--type5-port @")
            << u"talvrecv: cannot listen on 127.0.0.1 port @ for Type 5: .+\\n"_s;
        QTest::newRow("usage error") << words("--delay soon")
                                     << u"talvrecv: bad value \"soon\" for --delay\\nTry 'talvrecv "
                                        "--help' for more information\\.\\n"_s;
    }

    void program() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(taken.serverPort());
        TalvrecvProcess talvrecv(arguments.replaceInStrings(u"@"_s, port));
        const bool listens = talvrecv.waitListening();
        if (listens) {
            Client client(talvrecv.type4Port);
            client.socket.write(standardFrame());
            QTRY_COMPARE_WITH_TIMEOUT(client.data, QByteArray("ACK"), TalvrecvProcess::kWaitMs);
        }
        QCOMPARE(talvrecv.waitExit(true), listens ? 0 : 2);
        const QRegularExpression expected(
            QRegularExpression::anchoredPattern(output.replace(u"@"_s, port)));
        QVERIFY2(expected.match(talvrecv.output()).hasMatch(), qPrintable(talvrecv.output()));
    }
};

QTEST_GUILESS_MAIN(ReceiverTests)
#include "tst_receiver.moc"
