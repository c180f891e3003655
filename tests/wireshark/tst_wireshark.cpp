// The Wireshark dissector (wireshark/talv.lua) read by Debian's tshark over
// captures made here: the bytes of each row cross a real loopback
// connection, and the capture is written from what each end received. What
// tshark shows is compared with what was sent and with the verdicts of the
// receiver's own stream reader fed the same bytes.
#include "pcapfile.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "connectionstream.h"
#include "receiverlines.h"
#include "receiveroptions.h"
#include "recordfields.h"
#include "type4frame.h"
#include "wiresharkfields.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kWaitMs = 20'000;
const QByteArray kTermId = QByteArrayLiteral("999");
const QByteArray kAck = QByteArrayLiteral("ACK");
constexpr char kAggregator = '\x1f';
// Wireshark's expert severity for a warning; chat and note lie below it.
constexpr qint64 kWarningSeverity = 0x00600000;

// Server ports in the capture file, named in the preferences; nothing
// listens on them.
constexpr quint16 kType4Port = 17005;
constexpr quint16 kType5Port = 17018;
constexpr quint16 kOtherPort = 17100;
constexpr int kFirstClientPort = 40000;

using Script = QList<PcapSegment>;

const QString kDissector = QStringLiteral(TALVGEN_SOURCE_DIR "/wireshark/talv.lua");

PcapSegment client(const QByteArray &bytes) {
    return {true, bytes};
}
PcapSegment receiver(const QByteArray &bytes) {
    return {false, bytes};
}

QByteArray canned(CannedRecord which, int moli = -1) {
    const QByteArray record = cannedIpndRecord(which);
    if (moli < 0)
        return frameCannedRecord(kTermId, record, false);
    return frameCannedRecord(kTermId, record + cannedMoliRecords().at(moli), true);
}

// A frame whose length field says what the caller wants, whatever the body.
QByteArray framed(const QByteArray &lengthField, const QByteArray &body) {
    return kTermId + lengthField + body;
}

QByteArray dataFileFrame() {
    QFile file(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = file.readLine().trimmed();
    return frameFileRecord(line.split('\t').value(3));
}

QByteArray documentWith(const char *from, const char *to) {
    return cannedAmlDocument().replace(from, to);
}

QList<QByteArray> cut(const QByteArray &bytes, int parts) {
    QList<QByteArray> pieces;
    const qsizetype size = bytes.size() / parts;
    for (int i = 0; i < parts; ++i)
        pieces << bytes.mid(i * size, i + 1 == parts ? -1 : size);
    return pieces;
}

Script inPieces(const QList<QByteArray> &pieces) {
    Script script;
    for (const QByteArray &piece : pieces)
        script << client(piece);
    return script;
}

// Each side's bytes cross a real connection; the capture's segments are cut
// from what the other end received, at the script's boundaries.
bool exchange(const Script &script, PcapConnection &connection) {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return false;
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!server.waitForNewConnection(kWaitMs) || !sender.waitForConnected(kWaitMs))
        return false;
    QTcpSocket *peer = server.nextPendingConnection();
    QByteArray fromClient, fromServer;
    for (const PcapSegment &step : script)
        (step.fromClient ? fromClient : fromServer) += step.bytes;
    sender.write(fromClient);
    peer->write(fromServer);
    QByteArray atServer, atClient;
    const bool arrived = QTest::qWaitFor(
        [&] {
            atServer += peer->readAll();
            atClient += sender.readAll();
            return atServer.size() >= fromClient.size() && atClient.size() >= fromServer.size();
        },
        kWaitMs);
    if (!arrived)
        return false;
    qsizetype atServerPos = 0, atClientPos = 0;
    for (const PcapSegment &step : script) {
        qsizetype &pos = step.fromClient ? atServerPos : atClientPos;
        const QByteArray &received = step.fromClient ? atServer : atClient;
        connection.segments << PcapSegment{step.fromClient, received.mid(pos, step.bytes.size())};
        pos += step.bytes.size();
    }
    return true;
}

// What talvrecv's reader makes of the client's segments, read as they came.
QList<StreamEvent> receiverEvents(const PcapConnection &connection) {
    ConnectionStream stream;
    QList<StreamEvent> events;
    for (const PcapSegment &segment : connection.segments)
        if (segment.fromClient)
            events += stream.feed(segment.bytes);
    events += stream.finish();
    return events;
}

QStringList uniqueNames(const QString &prefix, const auto &layout) {
    QStringList names;
    for (const RecordField &field : layout)
        if (!names.contains(prefix + field.name))
            names << prefix + field.name;
    return names;
}

QStringList recordFieldNames() {
    return uniqueNames(QStringLiteral("talv.ipnd."), ipndFields()) +
           uniqueNames(QStringLiteral("talv.moli."), moliFields()) +
           QStringList{QStringLiteral("talv.t4.extra_field")};
}

const QStringList kFields = {
    QStringLiteral("talv.t4.term_id"),     QStringLiteral("talv.t4.length"),
    QStringLiteral("talv.t4.type"),        QStringLiteral("talv.verdict"),
    QStringLiteral("talv.summary"),        QStringLiteral("talv.t5.lines"),
    QStringLiteral("talv.t5.bytes"),       QStringLiteral("talv.heartbeat"),
    QStringLiteral("talv.answer"),         QStringLiteral("_ws.expert.message"),
    QStringLiteral("_ws.expert.severity"),
};

// Every value of every field, in packet order; record fields only from
// packets that hold a frame, where each of them is present.
using Dissected = QMap<QString, QStringList>;

// Record fields are compared without their empty values: tshark prints an
// empty value and an absent field alike.
void dropEmptyRecordValues(Dissected &values) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it.key().startsWith(QLatin1String("talv.ipnd.")) ||
            it.key().startsWith(QLatin1String("talv.moli.")) ||
            it.key() == QLatin1String("talv.t4.extra_field"))
            it.value().removeAll(QString());
    }
    values.removeIf([](const auto &entry) { return entry.value().isEmpty(); });
}

// One tshark run over every connection; out holds each TCP stream's values.
bool runTshark(const QByteArray &capture, const QStringList &prefs, QList<Dissected> &out,
               QString &error) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("capture.pcap")));
    if (!file.open(QIODevice::WriteOnly) || file.write(capture) != capture.size())
        return false;
    file.close();
    const QStringList names =
        QStringList{QStringLiteral("tcp.stream")} + kFields + recordFieldNames();
    QStringList arguments = QStringLiteral("-2 -T fields -E occurrence=a").split(u' ');
    arguments << QStringLiteral("-r") << file.fileName() << QStringLiteral("-X")
              << QStringLiteral("lua_script:") + kDissector << QStringLiteral("-E")
              << QStringLiteral("aggregator=") + QLatin1Char(kAggregator);
    for (const QString &pref : prefs)
        arguments << QStringLiteral("-o") << pref;
    for (const QString &name : names)
        arguments << QStringLiteral("-e") << name;
    // A home of its own: no installed copy of the dissector, no preferences.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir.path());
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    QProcess tshark;
    tshark.setProcessEnvironment(environment);
    tshark.start(QStringLiteral("tshark"), arguments);
    const bool finished = tshark.waitForFinished(kWaitMs) && tshark.exitCode() == 0;
    error = QString::fromLocal8Bit(tshark.readAllStandardError());
    if (!finished)
        return false;
    for (const QByteArray &line : tshark.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> columns = line.split('\t');
        const int stream = columns.constFirst().toInt();
        if (line.isEmpty() || stream < 0 || stream >= out.size())
            continue;
        for (int i = 1; i < names.size() && i < columns.size(); ++i) {
            if (columns.at(i).isEmpty())
                continue;
            for (const QByteArray &value : columns.at(i).split(kAggregator))
                out[stream][names.at(i)] << QString::fromLatin1(value);
        }
    }
    for (Dissected &values : out)
        dropEmptyRecordValues(values);
    return true;
}

struct Expected {
    Dissected values;
    int heartbeats = 0;       // receiver to sender
    int heartbeatAnswers = 0; // sender to receiver
};

void expectFrame(const Type4Frame &frame, Dissected &values) {
    values[QStringLiteral("talv.t4.term_id")] << QString::fromLatin1(frame.terminalId);
    values[QStringLiteral("talv.t4.length")] << QString::number(frame.length);
    values[QStringLiteral("talv.t4.type")] << QString::fromLatin1(frame.body.first(1));
    if (frame.body.size() < 2 || frame.body.at(1) != '|')
        return;
    const QList<QByteArray> fields = frame.body.sliced(2).split('|');
    const bool moli = frame.body.front() == '4';
    for (int i = 0; i < fields.size(); ++i) {
        QString name = QStringLiteral("talv.t4.extra_field");
        if (i < kIpndFieldCount)
            name = QStringLiteral("talv.ipnd.") + ipndFields().at(i).name;
        else if (moli && i < kIpndFieldCount + kMoliFieldCount)
            name = QStringLiteral("talv.moli.") + moliFields().at(i - kIpndFieldCount).name;
        values[name] << QString::fromLatin1(fields.at(i));
    }
}

Expected expected(const PcapConnection &connection) {
    Expected e;
    const QList<StreamEvent> events = receiverEvents(connection);
    bool documents = false;
    for (const StreamEvent &event : events) {
        if (event.kind == StreamEvent::Kind::HeartbeatAnswer) {
            ++e.heartbeatAnswers;
            continue;
        }
        e.values[QStringLiteral("talv.verdict")] << verdictText(event.ok, event.reason);
        e.values[QStringLiteral("talv.summary")] << describeEvent(event);
        if (!event.ok)
            e.values[QStringLiteral("_ws.expert.message")] << verdictText(false, event.reason);
        if (event.kind == StreamEvent::Kind::Frame)
            expectFrame(event.frame, e.values);
        if (event.kind == StreamEvent::Kind::Document) {
            documents = true;
            e.values[QStringLiteral("talv.t5.lines")] << QString::number(event.lines);
            e.values[QStringLiteral("talv.t5.bytes")] << QString::number(event.bytes);
        }
    }
    // The receiver's side: heartbeats on a document stream, the rest answers.
    dropEmptyRecordValues(e.values);
    for (const PcapSegment &segment : connection.segments) {
        if (segment.fromClient)
            continue;
        const QList<QByteArray> answers =
            documents ? segment.bytes.split('\x02') : QList<QByteArray>{segment.bytes};
        for (QByteArray answer : answers) {
            if (answer.startsWith("H\x03")) {
                ++e.heartbeats;
                answer.remove(0, 2);
            }
            if (!answer.isEmpty())
                e.values[QStringLiteral("talv.answer")] << QString::fromLatin1(answer);
        }
    }
    return e;
}

struct Row {
    const char *name;
    Script script;
    quint16 port;
};

QList<Row> rows() {
    QList<Row> rows;
    const auto type4 = [&rows](const char *name, const QByteArray &frame,
                               const QByteArray &answer) {
        rows << Row{name, {client(frame), receiver(answer)}, kType4Port};
    };
    type4("Standard", canned(CannedRecord::Standard), kAck);
    type4("No Add", canned(CannedRecord::NoAdd), kAck);
    type4("Long", canned(CannedRecord::Long), kAck);
    type4("Min", canned(CannedRecord::Min), kAck);
    type4("Max", canned(CannedRecord::Max), kAck);
    type4("Standard with Point", canned(CannedRecord::Standard, kMoliPoint), kAck);
    type4("No Add with Circular", canned(CannedRecord::NoAdd, kMoliCircular), kAck);
    type4("Long with Circular Arc", canned(CannedRecord::Long, kMoliCircularArc), kAck);
    type4("Min with Polygon", canned(CannedRecord::Min, kMoliPolygon), kAck);
    type4("Standard with Ellipsoid", canned(CannedRecord::Standard, kMoliEllipsoid), kAck);
    type4("Min with None", canned(CannedRecord::Min, kMoliNone), kAck);
    type4("Max with the full MOLI record", canned(CannedRecord::Max, kMoliFull), kAck);
    type4("data-file record", dataFileFrame(), QByteArrayLiteral("Data Pkt Rxd"));
    rows << Row{"a frame over three segments",
                inPieces(cut(canned(CannedRecord::Standard, kMoliPolygon), 3)) +
                    Script{receiver(kAck)},
                kType4Port};
    rows << Row{"two frames in one segment",
                Script{client(canned(CannedRecord::Standard) + canned(CannedRecord::Min)),
                       receiver(kAck + kAck)},
                kType4Port};
    rows << Row{"frames on a port of no preference",
                Script{client(canned(CannedRecord::Long)), receiver(kAck),
                       client(canned(CannedRecord::Max, kMoliFull)), receiver(kAck)},
                kOtherPort};

    const QByteArray body = '3' + cannedIpndRecord(CannedRecord::Standard);
    const auto refused = [&rows](const char *name, const QByteArray &frame) {
        rows << Row{name, {client(frame)}, kType4Port};
    };
    refused("a length longer than the body", framed(type4LengthField(body.size() + 10), body));
    refused("a length shorter than the body", framed(type4LengthField(body.size() - 9), body));
    refused("a non-numeric header", framed("03A7", body));
    rows << Row{"a frame after the receiver dropped the connection",
                {client(framed("03A7", body)), client(canned(CannedRecord::Min))},
                kType4Port};
    refused("a length with a leading zero beyond four digits", framed("00307", body));
    refused("a length field of ten digits", framed("0000000307", body));
    refused("an unknown record type", framed(type4LengthField(body.size()), '5' + body.sliced(1)));
    refused("a field missing", framed(type4LengthField(body.size() - 2), body.chopped(2)));
    refused("type 4 without MOLI record",
            frameCannedRecord(kTermId, cannedIpndRecord(CannedRecord::Standard), true));
    refused("a field too wide", framed(type4LengthField(body.size() + 1),
                                       QByteArray(body).replace("|9990302|", "|99903020|")));
    QByteArray point = cannedMoliRecords().at(kMoliPoint);
    refused(
        "an unknown MOLI shape",
        frameCannedRecord(
            kTermId, cannedIpndRecord(CannedRecord::Standard) + point.replace("|O|", "|Q|"), true));

    const QByteArray document = cannedAmlDocument();
    const QByteArray answer = heartbeatAnswerBytes();
    const QByteArray heartbeat = heartbeatBytes();
    rows << Row{"a document, a heartbeat and its answer",
                Script{client(document), receiver(kAck), receiver(heartbeat), client(answer)},
                kType5Port};
    rows << Row{"a document over three segments",
                inPieces(cut(document, 3)) + Script{receiver(kAck + heartbeat)}, kType5Port};
    rows << Row{"two documents in one segment",
                Script{client(document + document), receiver(kAck + kAck)}, kType5Port};
    const QList<QByteArray> halves = cut(document, 2);
    rows << Row{"heartbeat answers between and inside documents",
                Script{receiver(heartbeat), client(answer + document + answer + halves.at(0)),
                       receiver(heartbeat + kAck), client(answer + halves.at(1))},
                kType5Port};
    rows << Row{"a document on a port of no preference", Script{client(document), receiver(kAck)},
                kOtherPort};
    const auto refusedDocument = [&rows](const char *name, const QByteArray &text) {
        rows << Row{name, {client(text)}, kType5Port};
    };
    refusedDocument("a tag that does not match", documentWith("</Shape>", "</Shapes>"));
    refusedDocument("an element missing", documentWith("<Lot_Suffix>B</Lot_Suffix>", ""));
    refusedDocument("groups out of order",
                    documentWith("<SMSA_Data>", "<SMSA>").replace("</SMSA_Data>", "</SMSA>"));
    refusedDocument("a date that is not one",
                    documentWith("<Date_Sent>2019-11-04", "<Date_Sent>2019-02-29"));
    refusedDocument("an element with attributes", documentWith("<Shape>", "<Shape kind=\"x\">"));
    refusedDocument("markup in a value",
                    documentWith("<Locality>MELLIS", "<Locality><b>MELLIS</b>"));
    refusedDocument("text outside any element", documentWith("<ESAP_Data>", "<ESAP_Data>stray"));
    refusedDocument("a document the connection cut short", document.chopped(20));
    return rows;
}

} // namespace

class TestWireshark : public QObject {
    Q_OBJECT
    QList<Row> m_rows;
    QList<PcapConnection> m_connections;
    QList<Dissected> m_dissected;

private slots:
    // Every row's exchange in one capture, one connection each, read by one
    // tshark run: the server ports are those the preferences name.
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps installs it)");
        m_rows = rows();
        for (const Row &row : std::as_const(m_rows)) {
            PcapConnection connection;
            QVERIFY2(exchange(row.script, connection), row.name);
            connection.clientPort = quint16(kFirstClientPort + m_connections.size());
            connection.serverPort = row.port;
            m_connections << connection;
        }
        m_dissected.resize(m_connections.size());
        QString error;
        QVERIFY2(runTshark(pcapFile(m_connections),
                           {QStringLiteral("talv.type4_port:%1").arg(kType4Port),
                            QStringLiteral("talv.type5_port:%1").arg(kType5Port)},
                           m_dissected, error),
                 qPrintable(error));
        QVERIFY2(!error.contains(QLatin1String("Lua")), qPrintable(error));
    }

    // The layouts in the checked-in dissector are the C++ ones, as
    // talvrecv --wireshark-fields prints them.
    void layoutsMatchTheCode() {
        QFile file(kDissector);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        const qsizetype begin = text.indexOf(kWiresharkLayoutsBegin);
        const qsizetype end = text.indexOf(kWiresharkLayoutsEnd);
        QVERIFY(begin >= 0 && end > begin);
        const QByteArray block = text.mid(begin, end - begin + qstrlen(kWiresharkLayoutsEnd) + 1);
        QCOMPARE(block, wiresharkFieldsLua(ReceiverOptions{}));

        QProcess talvrecv;
        talvrecv.start(QStringLiteral(TALVRECV_PATH), {QStringLiteral("--wireshark-fields")});
        QVERIFY(talvrecv.waitForFinished(kWaitMs));
        QCOMPARE(talvrecv.exitCode(), 0);
        QCOMPARE(talvrecv.readAllStandardOutput(), block);
    }

    void dissects_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < m_rows.size(); ++i)
            QTest::newRow(m_rows.at(i).name) << i;
    }

    void dissects() {
        QFETCH(int, row);
        Dissected got = m_dissected.at(row);
        const Expected want = expected(m_connections.at(row));
        const QStringList severities = got.take(QStringLiteral("_ws.expert.severity"));
        const QStringList messages = got.take(QStringLiteral("_ws.expert.message"));
        // Our own expert infos, and nothing as severe from anyone else.
        QStringList ours;
        for (int i = 0; i < messages.size(); ++i) {
            if (messages.at(i).startsWith(QLatin1String("INVALID: ")))
                ours << messages.at(i);
            else
                QVERIFY2(severities.value(i).toLongLong(nullptr, 0) < kWarningSeverity,
                         qPrintable(messages.at(i)));
        }
        QCOMPARE(ours, want.values.value(QStringLiteral("_ws.expert.message")));
        const QStringList beats = got.take(QStringLiteral("talv.heartbeat"));
        QCOMPARE(beats.count(QStringLiteral("0x48")), want.heartbeats);
        QCOMPARE(beats.count(QStringLiteral("0x06")), want.heartbeatAnswers);
        Dissected rest = want.values;
        rest.remove(QStringLiteral("_ws.expert.message"));
        for (auto it = rest.cbegin(); it != rest.cend(); ++it)
            QVERIFY2(got.value(it.key()) == it.value(),
                     qPrintable(QStringLiteral("%1: got %2, want %3")
                                    .arg(it.key(), got.value(it.key()).join(u'/'),
                                         it.value().join(u'/'))));
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QVERIFY2(rest.contains(it.key()), qPrintable(it.key() + u' ' + it.value().join(u'/')));
    }
};

QTEST_GUILESS_MAIN(TestWireshark)
#include "tst_wireshark.moc"
