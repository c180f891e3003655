// SPDX-License-Identifier: GPL-3.0-or-later
// The Wireshark dissector (wireshark/talv.lua) read by Debian's tshark over
// captures written here, a connection a row, segment by segment as its script
// gives them. What tshark shows is compared with what was sent and with the
// verdicts of the receiver's own stream reader fed the same segments.
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
#include <QTemporaryDir>
#include <QTest>

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
};

QList<Row> rows() {
    QList<Row> rows;
    const auto onPort = [&rows](quint16 port) {
        return [&rows, port](const QByteArray &name, const Script &script) {
            rows << Row{name, script, port};
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
              {client(canned(kCannedRecords[moli % 5], moli)), receiver(kAck)});
    type4("a frame over three segments",
          inPieces(canned(Standard, kMoliPolygon), 3) + Script{receiver(kAck)});
    type4("two frames in one segment",
          {client(canned(Standard) + canned(Min)), receiver(kAck + kAck)});
    other("frames on a port of no preference",
          {client(canned(Long)), receiver(kAck), client(canned(Max, kMoliFull)), receiver(kAck)});

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
    refused("an unknown MOLI shape",
            frameCannedRecord(kTermId, body.sliced(1) + point.replace("|O|", "|Q|"), true));

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
    QByteArray m_capture;

private slots:
    // Every row's exchange in one capture, one connection each, read by one
    // tshark run: the server ports are those the preferences name.
    void initTestCase() {
        if (QStandardPaths::findExecutable(u"tshark"_s).isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps installs it)");
        m_rows = rows();
        for (const Row &row : std::as_const(m_rows)) {
            // Client ports from 40000 up, one a connection.
            m_connections << PcapConnection{quint16(40000 + m_connections.size()), row.port,
                                            row.script};
        }
        m_dissected.resize(m_connections.size());
        QString error;
        m_capture = pcapFile(m_connections);
        QVERIFY2(runTshark(m_capture, m_dissected, error), qPrintable(error));
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

    // A MOLI shape is shown with what its letter means: "Shape: O (point)".
    void showsShapeMeanings() {
        QByteArray tree;
        QString error;
        QVERIFY2(tshark(m_capture, {u"-V"_s}, tree, error), qPrintable(error));
        QStringList shown;
        for (const QByteArray &line : tree.split('\n'))
            if (line.trimmed().startsWith("Shape: "))
                shown << QString::fromLatin1(line.trimmed());
        shown.removeDuplicates();
        QStringList meanings =
            texts({"O (point)", "C (circular)", "A (circular arc)", "P (polygon)", "E (ellipsoid)",
                   "N (none)", "X (all shapes)", "Q (unknown shape)"});
        for (QString &meaning : meanings)
            meaning = u"Shape: %1 [field %2]"_s.arg(meaning).arg(kMoliShapeField);
        shown.sort();
        meanings.sort();
        QCOMPARE(shown, meanings);
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
