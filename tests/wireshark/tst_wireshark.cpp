// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "testtext.h"
#include "type4frame.h"
#include "wiresharkfields.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kWaitMs = 20'000;
const QByteArray kTermId = QByteArrayLiteral("999");
const QByteArray kAck = QByteArrayLiteral("ACK");
constexpr char kAggregator = '\x1f';
// Wireshark's expert severity for a warning; chat and note lie below it.
constexpr qint64 kWarningSeverity = 0x00600000;

// Server ports in the capture file, named in the preferences; nothing
// listens on them.
constexpr quint16 kType4Port = 17005, kType5Port = 17018, kOtherPort = 17100;

using Script = QList<PcapSegment>;

const QString kDissector = QStringLiteral(TALVGEN_SOURCE_DIR "/wireshark/talv.lua");

PcapSegment client(const QByteArray &bytes) {
    return {true, bytes};
}
PcapSegment receiver(const QByteArray &bytes) {
    return {false, bytes};
}

QByteArray canned(CannedRecord which, int moli = -1) {
    const QByteArray moliRecord = moli < 0 ? QByteArray() : cannedMoliRecords().at(moli);
    return frameCannedRecord(kTermId, cannedIpndRecord(which) + moliRecord, moli >= 0);
}

// A frame whose length field says what the caller wants, whatever the body.
QByteArray framed(const QByteArray &lengthField, const QByteArray &body) {
    return kTermId + lengthField + body;
}

// The first record of the sample data file, framed as the cycle frames it.
QByteArray dataFileFrame() {
    QFile file(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01"));
    return file.open(QIODevice::ReadOnly)
               ? frameFileRecord(file.readLine().trimmed().split('\t').value(3))
               : QByteArray();
}

QByteArray documentWith(const char *from, const char *to) {
    return cannedAmlDocument().replace(from, to);
}

// The client's bytes in parts of one size, the last taking the rest.
Script inPieces(const QByteArray &bytes, int parts) {
    Script script;
    const qsizetype size = bytes.size() / parts;
    for (int i = 0; i < parts; ++i)
        script << client(bytes.mid(i * size, i + 1 == parts ? -1 : size));
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
    if (!QTest::qWaitFor(
            [&] {
                atServer += peer->readAll();
                atClient += sender.readAll();
                return atServer.size() >= fromClient.size() && atClient.size() >= fromServer.size();
            },
            kWaitMs))
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

QStringList recordFieldNames() {
    QStringList names{u"talv.t4.extra_field"_s};
    for (const RecordField &field : ipndFields())
        names << u"talv.ipnd."_s + field.name;
    for (const RecordField &field : moliFields())
        names << u"talv.moli."_s + field.name;
    names.removeDuplicates();
    return names;
}

const QStringList kFields =
    QStringLiteral("talv.t4.term_id talv.t4.length talv.t4.type talv.verdict talv.summary "
                   "talv.t5.lines talv.t5.bytes talv.heartbeat talv.answer _ws.expert.message "
                   "_ws.expert.severity")
        .split(u' ');

// Every value of every field, in packet order; record fields only from
// packets that hold a frame, where each of them is present.
using Dissected = QMap<QString, QStringList>;

// Record fields are compared without their empty values: tshark prints an
// empty value and an absent field alike.
void dropEmptyRecordValues(Dissected &values) {
    for (auto it = values.begin(); it != values.end(); ++it)
        if (it.key().startsWith(u"talv.ipnd."_s) || it.key().startsWith(u"talv.moli."_s) ||
            it.key() == u"talv.t4.extra_field"_s)
            it.value().removeAll(QString());
    values.removeIf([](const auto &entry) { return entry.value().isEmpty(); });
}

// tshark with the dissector over the capture, in two passes, the server ports named in the
// preferences, and the arguments given; what it printed, or false with its complaints in error.
bool tshark(const QByteArray &capture, const QStringList &given, QByteArray &output,
            QString &error) {
    QTemporaryDir dir;
    QFile file(dir.filePath(u"capture.pcap"_s));
    if (!file.open(QIODevice::WriteOnly) || file.write(capture) != capture.size())
        return false;
    file.close();
    QStringList arguments{u"-2"_s, u"-r"_s, file.fileName(), u"-X"_s,
                          u"lua_script:"_s + kDissector};
    arguments << u"-o"_s << u"talv.type4_port:%1"_s.arg(kType4Port) << u"-o"_s
              << u"talv.type5_port:%1"_s.arg(kType5Port);
    // A home of its own: no installed copy of the dissector, no preferences.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, dir.path());
    environment.remove(u"XDG_CONFIG_HOME"_s);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(u"tshark"_s, arguments + given);
    const bool finished = process.waitForFinished(kWaitMs) &&
                          process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    error = QString::fromLocal8Bit(process.readAllStandardError());
    output = process.readAllStandardOutput();
    return finished;
}

// One tshark run over every connection; out holds each TCP stream's values.
bool runTshark(const QByteArray &capture, QList<Dissected> &out, QString &error) {
    const QStringList names = QStringList{u"tcp.stream"_s} + kFields + recordFieldNames();
    QStringList arguments = u"-T fields -E occurrence=a"_s.split(u' ');
    arguments << u"-E"_s << u"aggregator="_s + QLatin1Char(kAggregator);
    for (const QString &name : names)
        arguments << u"-e"_s << name;
    QByteArray output;
    if (!tshark(capture, arguments, output, error))
        return false;
    for (const QByteArray &line : output.split('\n')) {
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

// How tshark shows each MOLI Shape field (its tree line), by TCP stream, from one run.
bool runTsharkShapes(const QByteArray &capture, QList<QStringList> &out, QString &error) {
    QByteArray output;
    if (!tshark(capture, {u"-T"_s, u"pdml"_s}, output, error))
        return false;
    QXmlStreamReader pdml(output);
    qsizetype stream = -1;
    while (!pdml.atEnd()) {
        if (pdml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (pdml.name() == u"packet")
            stream = -1;
        if (pdml.name() != u"field")
            continue;
        const QXmlStreamAttributes attributes = pdml.attributes();
        const QStringView name = attributes.value(u"name"_s);
        if (name == u"tcp.stream")
            stream = attributes.value(u"show"_s).toInt();
        else if (name == u"talv.moli.Shape" && stream >= 0 && stream < out.size())
            out[stream] << attributes.value(u"showname"_s).toString();
    }
    if (pdml.hasError())
        error += pdml.errorString();
    return !pdml.hasError();
}

void expectFrame(const Type4Frame &frame, Dissected &values) {
    values[u"talv.t4.term_id"_s] << QString::fromLatin1(frame.terminalId);
    values[u"talv.t4.length"_s] << QString::number(frame.length);
    values[u"talv.t4.type"_s] << QString::fromLatin1(frame.body.first(1));
    if (frame.body.size() < 2 || frame.body.at(1) != '|')
        return;
    const QList<QByteArray> fields = frame.body.sliced(2).split('|');
    const bool moli = frame.body.front() == '4';
    for (int i = 0; i < fields.size(); ++i) {
        QString name = u"talv.t4.extra_field"_s;
        if (i < kIpndFieldCount)
            name = u"talv.ipnd."_s + ipndFields().at(i).name;
        else if (moli && i < kIpndFieldCount + kMoliFieldCount)
            name = u"talv.moli."_s + moliFields().at(i - kIpndFieldCount).name;
        values[name] << QString::fromLatin1(fields.at(i));
    }
}

// What talvrecv's reader makes of the client's segments, read as they came, and
// what the receiver sent: heartbeats on a document stream, the rest answers.
// Heartbeats both ways are counted, as a sorted list.
Dissected expected(const PcapConnection &connection) {
    ConnectionStream stream;
    QList<StreamEvent> events;
    for (const PcapSegment &segment : connection.segments)
        if (segment.fromClient)
            events += stream.feed(segment.bytes);
    events += stream.finish();
    Dissected e;
    const QString heartbeat = u"talv.heartbeat"_s;
    bool documents = false;
    for (const StreamEvent &event : events) {
        if (event.kind == StreamEvent::Kind::HeartbeatAnswer) {
            e[heartbeat] << u"0x06"_s;
            continue;
        }
        e[u"talv.verdict"_s] << verdictText(event.ok, event.reason);
        e[u"talv.summary"_s] << describeEvent(event);
        if (!event.ok)
            e[u"_ws.expert.message"_s] << verdictText(false, event.reason);
        if (event.kind == StreamEvent::Kind::Frame)
            expectFrame(event.frame, e);
        if (event.kind == StreamEvent::Kind::Document) {
            documents = true;
            e[u"talv.t5.lines"_s] << QString::number(event.lines);
            e[u"talv.t5.bytes"_s] << QString::number(event.bytes);
        }
    }
    for (const PcapSegment &segment : connection.segments) {
        if (segment.fromClient)
            continue;
        const QList<QByteArray> answers =
            documents ? segment.bytes.split('\x02') : QList<QByteArray>{segment.bytes};
        for (QByteArray answer : answers) {
            if (answer.startsWith("H\x03")) {
                e[heartbeat] << u"0x48"_s;
                answer.remove(0, 2);
            }
            if (!answer.isEmpty())
                e[u"talv.answer"_s] << QString::fromLatin1(answer);
        }
    }
    e[heartbeat].sort();
    dropEmptyRecordValues(e);
    return e;
}

struct Row {
    QByteArray name;
    Script script;
    quint16 port;
    QStringList shapes; // each MOLI Shape field as the tree shows it
};

// What a canned MOLI record's shape letter stands for, in the order of the records.
const char *const kShapeMeanings[] = {"point",     "circular", "circular arc", "polygon",
                                      "ellipsoid", "none",     "all shapes"};

QString shownShape(const QByteArray &letter, const char *meaning) {
    return u"Shape: %1 (%2) [field %3]"_s
        .arg(QString::fromLatin1(letter), QString::fromLatin1(meaning))
        .arg(kMoliShapeField);
}

// The shape letter of a MOLI record, which opens with "|".
QByteArray shapeLetter(const QByteArray &moli) {
    return moli.split('|').value(kMoliShapeField);
}

QString shownCannedShape(int moli) {
    return shownShape(shapeLetter(cannedMoliRecords().at(moli)), kShapeMeanings[moli]);
}

QList<Row> rows() {
    QList<Row> rows;
    const auto onPort = [&rows](quint16 port) {
        return [&rows, port](const QByteArray &name, const Script &script,
                             const QStringList &shapes = {}) {
            rows << Row{name, script, port, shapes};
        };
    };
    const auto type4 = onPort(kType4Port), type5 = onPort(kType5Port), other = onPort(kOtherPort);
    using enum CannedRecord;
    // Each canned record alone, and each MOLI record after one of them.
    const char *records[] = {"Standard", "No Add", "Long", "Min", "Max"};
    const char *shapes[] = {"Point",     "Circular", "Circular Arc",        "Polygon",
                            "Ellipsoid", "None",     "the full MOLI record"};
    for (int i = 0; i < 5; ++i)
        type4(records[i], {client(canned(kCannedRecords[i])), receiver(kAck)});
    for (int moli = kMoliPoint; moli <= kMoliFull; ++moli)
        type4(QByteArray(records[moli % 5]) + " with " + shapes[moli],
              {client(canned(kCannedRecords[moli % 5], moli)), receiver(kAck)},
              {shownCannedShape(moli)});
    type4("data-file record", {client(dataFileFrame()), receiver("Data Pkt Rxd")});
    type4("a frame over three segments",
          inPieces(canned(Standard, kMoliPolygon), 3) + Script{receiver(kAck)},
          {shownCannedShape(kMoliPolygon)});
    type4("two frames in one segment",
          {client(canned(Standard) + canned(Min)), receiver(kAck + kAck)});
    other("frames on a port of no preference",
          {client(canned(Long)), receiver(kAck), client(canned(Max, kMoliFull)), receiver(kAck)},
          {shownCannedShape(kMoliFull)});

    const QByteArray body = '3' + cannedIpndRecord(Standard);
    const auto refused = [&](const char *name, const QByteArray &frame) {
        type4(name, {client(frame)});
    };
    refused("a length longer than the body", framed(type4LengthField(body.size() + 10), body));
    refused("a length shorter than the body", framed(type4LengthField(body.size() - 9), body));
    refused("a non-numeric header", framed("03A7", body));
    type4("a frame after the receiver dropped the connection",
          {client(framed("03A7", body)), client(canned(Min))});
    refused("a length with a leading zero beyond four digits", framed("00307", body));
    refused("a length field of ten digits", framed("0000000307", body));
    refused("an unknown record type", framed(type4LengthField(body.size()), '5' + body.sliced(1)));
    refused("a field missing", framed(type4LengthField(body.size() - 2), body.chopped(2)));
    refused("type 4 without MOLI record", frameCannedRecord(kTermId, body.sliced(1), true));
    refused("a field too wide", framed(type4LengthField(body.size() + 1),
                                       QByteArray(body).replace("|9990302|", "|99903020|")));
    QByteArray point = cannedMoliRecords().at(kMoliPoint);
    type4("an unknown MOLI shape",
          {client(frameCannedRecord(kTermId, body.sliced(1) + point.replace("|O|", "|Q|"), true))},
          {shownShape("Q", "unknown shape")});

    const QByteArray document = cannedAmlDocument();
    const QByteArray answer = heartbeatAnswerBytes();
    const QByteArray heartbeat = heartbeatBytes();
    type5("a document, a heartbeat and its answer",
          {client(document), receiver(kAck), receiver(heartbeat), client(answer)});
    type5("a document over three segments",
          inPieces(document, 3) + Script{receiver(kAck + heartbeat)});
    type5("two documents in one segment", {client(document + document), receiver(kAck + kAck)});
    const Script halves = inPieces(document, 2);
    type5("heartbeat answers between and inside documents",
          {receiver(heartbeat), client(answer + document + answer + halves[0].bytes),
           receiver(heartbeat + kAck), client(answer + halves[1].bytes)});
    other("a document on a port of no preference", {client(document), receiver(kAck)});
    const auto refusedDocument = [&](const char *name, const QByteArray &text) {
        type5(name, {client(text)});
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
    QList<QStringList> m_shapes; // each stream's MOLI Shape fields as the tree shows them
    QByteArray m_capture;

    // The names of the rows a display filter finds something in, in row order.
    QStringList rowsMatching(const QString &filter, QString &error) const {
        QByteArray output;
        if (!tshark(m_capture, {u"-Y"_s, filter, u"-T"_s, u"fields"_s, u"-e"_s, u"tcp.stream"_s},
                    output, error))
            return {u"tshark failed"_s};
        QList<int> streams;
        for (const QByteArray &line : output.split('\n'))
            if (!line.isEmpty())
                streams << line.toInt();
        QStringList names;
        for (int i = 0; i < m_rows.size(); ++i)
            if (streams.contains(i))
                names << QString::fromLatin1(m_rows.at(i).name);
        return names;
    }

private slots:
    // Every row's exchange in one capture, one connection each, read by one
    // tshark run: the server ports are those the preferences name.
    void initTestCase() {
        if (QStandardPaths::findExecutable(u"tshark"_s).isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps installs it)");
        m_rows = rows();
        for (const Row &row : std::as_const(m_rows)) {
            // Client ports from 40000 up, one a connection.
            PcapConnection connection{quint16(40000 + m_connections.size()), row.port, {}};
            QVERIFY2(exchange(row.script, connection), row.name.constData());
            m_connections << connection;
        }
        m_dissected.resize(m_connections.size());
        m_shapes.resize(m_connections.size());
        QString error;
        m_capture = pcapFile(m_connections);
        QVERIFY2(runTshark(m_capture, m_dissected, error), qPrintable(error));
        QVERIFY2(!error.contains(u"Lua"_s), qPrintable(error));
        QVERIFY2(runTsharkShapes(m_capture, m_shapes, error), qPrintable(error));
        QVERIFY2(!error.contains(u"Lua"_s), qPrintable(error));
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
        talvrecv.start(QStringLiteral(TALVRECV_PATH), {u"--wireshark-fields"_s});
        QVERIFY(talvrecv.waitForFinished(kWaitMs));
        QCOMPARE(talvrecv.exitCode(), 0);
        QCOMPARE(talvrecv.readAllStandardOutput(), block);
    }

    // Each MOLI shape letter the checker takes is sent by one of the canned records, whose
    // rows below check what the dissector says it means.
    void cannedRecordsSendEveryShape() {
        QByteArray sent;
        for (int moli = kMoliPoint; moli <= kMoliFull; ++moli)
            sent += shapeLetter(cannedMoliRecords().at(moli));
        QByteArray letters(kMoliShapeLetters);
        std::sort(sent.begin(), sent.end());
        std::sort(letters.begin(), letters.end());
        QCOMPARE(sent, letters);
    }

    // A MOLI shape is shown with what its letter means: "Shape: O (point)".
    void showsShapeMeanings_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < m_rows.size(); ++i)
            QTest::newRow(m_rows.at(i).name.constData()) << i;
    }

    void showsShapeMeanings() {
        QFETCH(int, row);
        QCOMPARE(m_shapes.at(row), m_rows.at(row).shapes);
    }

    // The display filters docs/wireshark.md gives, over the canned records, in row order.
    void filters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("rows");
        const auto row = [](const char *filter, QList<const char *> rows) {
            QTest::newRow(filter) << QString::fromUtf8(filter) << texts(rows);
        };
        row("talv.moli.Shape == \"O\"", {"Standard with Point"});
        row("talv.moli.Shape == \"X\"",
            {"No Add with the full MOLI record", "frames on a port of no preference"});
        row("talv.moli.Shape == \"P\"", {"Min with Polygon", "a frame over three segments"});
        // Only the Max record with a MOLI record is over 1000 characters.
        row("talv.t4.length > 1000", {"frames on a port of no preference"});
        row("talv.t4.length > 700",
            {"Max", "Long with Circular Arc", "Max with Ellipsoid",
             "No Add with the full MOLI record", "frames on a port of no preference"});
        row("talv.t4.type == 4",
            {"Standard with Point", "No Add with Circular", "Long with Circular Arc",
             "Min with Polygon", "Max with Ellipsoid", "Standard with None",
             "No Add with the full MOLI record", "a frame over three segments",
             "frames on a port of no preference", "type 4 without MOLI record",
             "an unknown MOLI shape"});
        // The Standard record's, in every frame that holds the field.
        row("talv.ipnd.Locality == \"MELLIS\"",
            {"Standard", "Standard with Point", "Standard with None", "a frame over three segments",
             "two frames in one segment", "a length shorter than the body",
             "an unknown record type", "a field missing", "type 4 without MOLI record",
             "a field too wide", "an unknown MOLI shape"});
        row("talv.heartbeat",
            {"a document, a heartbeat and its answer", "a document over three segments",
             "heartbeat answers between and inside documents"});
    }

    void filters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, rows);
        QString error;
        QCOMPARE(rowsMatching(filter, error), rows);
        QVERIFY2(!error.contains(u"Lua"_s), qPrintable(error));
    }

    void dissects_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < m_rows.size(); ++i)
            QTest::newRow(m_rows.at(i).name.constData()) << i;
    }

    void dissects() {
        QFETCH(int, row);
        Dissected got = m_dissected.at(row);
        const Dissected want = expected(m_connections.at(row));
        const QStringList severities = got.take(u"_ws.expert.severity"_s);
        const QString messages = u"_ws.expert.message"_s;
        // Our own expert infos, and nothing as severe from anyone else.
        for (int i = 0; i < got.value(messages).size(); ++i)
            QVERIFY2(got[messages][i].startsWith(u"INVALID: "_s) ||
                         severities.value(i).toLongLong(nullptr, 0) < kWarningSeverity,
                     qPrintable(got[messages][i]));
        got[messages] = got[messages].filter(u"INVALID: "_s);
        got[u"talv.heartbeat"_s].sort();
        for (const QString &key : got.keys() + want.keys()) // none missing, none more
            QVERIFY2(got.value(key) == want.value(key),
                     qPrintable(u"%1: got %2, want %3"_s.arg(key, got.value(key).join(u'/'),
                                                             want.value(key).join(u'/'))));
    }
};

QTEST_GUILESS_MAIN(TestWireshark)
#include "tst_wireshark.moc"
