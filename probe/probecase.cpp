// SPDX-License-Identifier: GPL-3.0-or-later
#include "probecase.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "heartbeat.h"
#include "recordfields.h"
#include "type4frame.h"

#include <algorithm>
#include <array>
#include <random>
#include <span>

// Every random draw is its own statement (or an element of a braced list,
// which C++ evaluates left to right): the order of function arguments and of
// the operands of + is unspecified, and would let two compilers draw in a
// different order.

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kHugeType4FrameBytes = kMiB;
constexpr qint64 kHugeType5MinBytes = 2 * kMiB;
constexpr qint64 kHugeType5MaxBytes = 6 * kMiB;
constexpr qsizetype kLargeWriteBytes = 64 * 1024;
constexpr qint64 kTrickleBudgetMs = 2000;
constexpr qsizetype kMostTrickleWrites = 400;
constexpr qint64 kLongestTrickleDelayUs = 20'000;
constexpr qint64 kSplitDelayUs = 20'000;
// Any wait between writes makes a case slow on purpose: even a split's 20 ms
// bounds it to 50 cases a second, whatever the receiver does.
constexpr qint64 kSlowDelaysUs = 1;

constexpr char kUpper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kDigits[] = "0123456789";

// --- seeds and draws ---

quint64 splitMix64(quint64 x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

quint64 fnv1a64(QByteArrayView bytes) {
    quint64 hash = 0xCBF29CE484222325ULL;
    for (const char c : bytes) {
        hash ^= quint64(quint8(c));
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

// The same for a family whatever else runs beside it.
quint64 familySeed(quint64 seed, const QString &family) {
    return splitMix64(splitMix64(seed) ^ fnv1a64(family.toLatin1()));
}

// Draws from raw 64-bit engine output only: std::mt19937_64's sequence is
// fixed by the standard, its distributions are not.
class Rng {
public:
    explicit Rng(quint64 seed)
        : m_engine(seed) {}

    quint64 next() { return quint64(m_engine()); }
    // 0 <= r < n (0 when n < 2).
    qint64 below(qint64 n) { return n < 2 ? 0 : qint64(next() % quint64(n)); }
    // lo <= r <= hi (lo when hi < lo).
    qint64 between(qint64 lo, qint64 hi) { return hi <= lo ? lo : lo + below(hi - lo + 1); }
    bool coin() { return (next() & 1) != 0; }
    char pick(QByteArrayView chars) { return chars.at(below(chars.size())); }
    template<typename T> const T &pick(std::span<const T> items) {
        return items[size_t(below(qint64(items.size())))];
    }
    QByteArray text(qsizetype n, QByteArrayView chars) {
        QByteArray out(n, Qt::Uninitialized);
        for (char &c : out)
            c = pick(chars);
        return out;
    }

private:
    std::mt19937_64 m_engine;
};

struct Context {
    Rng rng;         // this case's own choices
    quint64 runSeed; // choices shared by every case of the family in the run
    qint64 index;    // the case's place within its family
    ProbeLimits limits;

    int variant(int count) const { return int(index % count); }
    qint64 holdMs() {
        return rng.between(std::max<qint64>(limits.maxCaseMs / 2, 1), limits.maxCaseMs);
    }
};

// --- text helpers ---

QByteArray byte(qint64 value) {
    return QByteArray(1, char(quint8(value)));
}

QByteArray twoDigits(qint64 n) {
    return QByteArray::number(n).rightJustified(2, '0');
}

QByteArray repeated(QByteArrayView unit, qsizetype times) {
    QByteArray out;
    out.reserve(unit.size() * times);
    for (qsizetype i = 0; i < times; ++i)
        out += unit;
    return out;
}

// Bytes for a title: printable ASCII kept, the rest as \xHH, cut when long.
QString printable(QByteArrayView bytes, qsizetype most = 24) {
    QString out;
    for (qsizetype i = 0; i < bytes.size() && i < most; ++i) {
        const auto c = quint8(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += QLatin1Char(char(c));
        else
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    if (bytes.size() > most)
        out += QStringLiteral("...");
    return out;
}

QString quoted(QByteArrayView bytes) {
    return QLatin1Char('"') + printable(bytes) + QLatin1Char('"');
}

QList<ProbeWrite> oneWrite(const QByteArray &bytes) {
    return {ProbeWrite{bytes, 0}};
}

// Back to back pieces of `chunk` bytes, delayUs apart.
QList<ProbeWrite> chunked(const QByteArray &bytes, qsizetype chunk, qint64 delayUs) {
    QList<ProbeWrite> writes;
    for (qsizetype at = 0; at < bytes.size(); at += chunk)
        writes.append(ProbeWrite{bytes.mid(at, chunk), writes.isEmpty() ? 0 : delayUs});
    return writes;
}

QList<ProbeWrite> splitAt(const QByteArray &bytes, qsizetype at, qint64 delayUs) {
    return {ProbeWrite{bytes.first(at), 0}, ProbeWrite{bytes.sliced(at), delayUs}};
}

ProbeCase makeCase(ProbeLink link, const QString &title, const QList<ProbeWrite> &writes) {
    ProbeCase c;
    c.link = link;
    c.title = title;
    c.writes = writes;
    return c;
}

// --- Type 4 material ---

struct Type4Parts {
    QByteArray terminalId;
    QByteArray body; // type digit, then the record
    QByteArray frame() const { return terminalId + type4LengthField(body.size()) + body; }
};

enum class Moli { Any, With, Without };

const std::array<QByteArray, kMoliRecordSlots> &moliRecords() {
    static const auto records = cannedMoliRecords();
    return records;
}

// A canned record as its button frames it, under a terminal ID of three digits.
Type4Parts validType4(Rng &rng, Moli moli = Moli::Any) {
    const CannedRecord which = rng.pick(std::span<const CannedRecord>(kCannedRecords));
    const bool withMoli = moli == Moli::With || (moli == Moli::Any && rng.below(3) != 0);
    std::optional<int> shape;
    if (withMoli)
        shape = int(rng.below(kMoliNone + 1));
    const QByteArray record = cannedRecordWithMoli(which, shape, moliRecords());
    const QByteArray terminalId = rng.text(3, kDigits);
    return {terminalId, (withMoli ? '4' : '3') + record};
}

// values[0] is the empty text before the first "|"; values[n] is field n.
QList<QByteArray> recordValues(const QByteArray &body) {
    return body.sliced(1).split('|');
}

QByteArray joinBody(char type, const QList<QByteArray> &values) {
    return type + values.join('|');
}

const RecordField &layoutOf(qsizetype field) {
    return field <= kIpndFieldCount ? ipndFields()[size_t(field - 1)]
                                    : moliFields()[size_t(field - 1 - kIpndFieldCount)];
}

QString fieldName(qsizetype field) {
    const QString record =
        field <= kIpndFieldCount ? QStringLiteral("IPND") : QStringLiteral("MOLI");
    const qsizetype position = field <= kIpndFieldCount ? field : field - kIpndFieldCount;
    return QStringLiteral("%1 field %2 %3").arg(record).arg(position).arg(layoutOf(field).name);
}

// The body that makes a frame of exactly `frameBytes`: the length field
// grows a digit past 9999.
qsizetype bodyCharsForFrame(qint64 frameBytes) {
    for (qsizetype digits = Type4Frame::kMinLengthDigits; digits <= Type4Frame::kMaxLengthDigits;
         ++digits) {
        const qint64 body = frameBytes - Type4Frame::kTerminalIdChars - digits;
        if (body >= 0 && type4LengthField(body).size() == digits)
            return body;
    }
    return 0;
}

// --- Type 4 families ---

ProbeCase type4Length(Context &c) {
    Rng &rng = c.rng;
    const Type4Parts parts = validType4(rng);
    const QByteArray field = type4LengthField(parts.body.size());
    const QByteArray number = QByteArray::number(parts.body.size());
    QByteArray bad;
    QString what;
    switch (c.variant(13)) {
    case 0: {
        bad = field;
        const qsizetype at = rng.below(bad.size());
        bad[at] = rng.pick(kLetters);
        what = QStringLiteral("non-numeric");
        break;
    }
    case 1:
        bad = rng.text(Type4Frame::kMinLengthDigits, kUpper);
        what = QStringLiteral("letters only");
        break;
    case 2:
        bad = field.right(rng.between(1, Type4Frame::kMinLengthDigits - 1));
        what = QStringLiteral("too short");
        break;
    case 3:
        what = QStringLiteral("missing");
        break;
    case 4:
        bad = field.rightJustified(rng.between(5, 12), '0');
        what = QStringLiteral("too long");
        break;
    case 5:
        bad = '-' + (rng.coin() ? field : number);
        what = QStringLiteral("negative-looking");
        break;
    case 6:
        bad = number.rightJustified(rng.between(Type4Frame::kMinLengthDigits, 6), ' ');
        what = QStringLiteral("leading spaces");
        break;
    case 7:
        bad = field + QByteArray(rng.between(1, 2), ' ');
        what = QStringLiteral("trailing spaces");
        break;
    case 8:
        bad = '+' + (rng.coin() ? field : number);
        what = QStringLiteral("plus sign");
        break;
    case 9:
        bad = "0x" + QByteArray::number(parts.body.size(), 16);
        what = QStringLiteral("hexadecimal");
        break;
    case 10:
        bad = field;
        bad.insert(rng.between(1, bad.size() - 1), '\0');
        what = QStringLiteral("NUL byte inside");
        break;
    case 11:
        for (const char digit : field) // FULLWIDTH DIGIT ZERO is U+FF10
            bad += QByteArray("\xEF\xBC") + char(0x90 + (digit - '0'));
        what = QStringLiteral("fullwidth digits");
        break;
    default:
        bad = number + ".0";
        what = QStringLiteral("decimal point");
        break;
    }
    return makeCase(ProbeLink::Type4, QStringLiteral("length field %1 (%2)").arg(quoted(bad), what),
                    oneWrite(parts.terminalId + bad + parts.body));
}

ProbeCase type4BodySize(Context &c) {
    Rng &rng = c.rng;
    const Type4Parts parts = validType4(rng);
    const qint64 size = parts.body.size();
    qint64 announced = 0;
    bool holdOpen = false;
    switch (c.variant(8)) {
    case 0:
        announced = size + rng.between(2, 16);
        break;
    case 1:
        announced = size - rng.between(2, 16);
        break;
    case 2:
        announced = size + 1;
        break;
    case 3:
        announced = size - 1;
        break;
    case 4:
        announced = size + rng.between(1000, 100'000);
        break;
    case 5:
        announced = Type4Frame::kMaxBodyChars;
        break;
    case 6:
        announced = size + rng.between(1, 16);
        holdOpen = true;
        break;
    default:
        announced = 2; // the least that holds a type digit and "|"
        break;
    }
    ProbeCase probe =
        makeCase(ProbeLink::Type4,
                 QStringLiteral("length %1, body of %2 characters").arg(announced).arg(size),
                 oneWrite(parts.terminalId + type4LengthField(announced) + parts.body));
    if (holdOpen) {
        probe.ending = ProbeEnding::HoldOpen;
        probe.holdMs = c.holdMs();
        probe.title += QStringLiteral(", held open");
    }
    return probe;
}

ProbeCase type4TerminalId(Context &c) {
    static constexpr std::array<int, 5> kWrongSizes = {0, 1, 2, 4, 5};
    Rng &rng = c.rng;
    Type4Parts parts = validType4(rng);
    const int variant = c.variant(int(kWrongSizes.size()) + 1);
    QString title;
    if (variant < int(kWrongSizes.size())) {
        parts.terminalId = rng.text(kWrongSizes[size_t(variant)], kDigits);
        title = QStringLiteral("terminal ID %1 of %2 characters")
                    .arg(quoted(parts.terminalId))
                    .arg(parts.terminalId.size());
    } else {
        static constexpr char kOddBytes[] = "\0 \t\r\n\x7F\xFF";
        parts.terminalId = rng.text(3, QByteArrayView(kOddBytes, sizeof kOddBytes - 1));
        title = QStringLiteral("terminal ID %1").arg(quoted(parts.terminalId));
    }
    return makeCase(ProbeLink::Type4, title, oneWrite(parts.frame()));
}

ProbeCase type4TypeDigit(Context &c) {
    Rng &rng = c.rng;
    const int variant = c.variant(7);
    const Moli moli = variant == 4 ? Moli::With : (variant == 5 ? Moli::Without : Moli::Any);
    Type4Parts parts = validType4(rng, moli);
    QByteArray type;
    QString extra;
    switch (variant) {
    case 0:
        type = byte(rng.pick("01256789"));
        break;
    case 1:
        type = byte(rng.pick(kLetters));
        break;
    case 2:
        break;
    case 3:
        type = byte(rng.pick("34"));
        type += rng.pick("34");
        break;
    case 4:
        type = "3";
        extra = QStringLiteral(" with a MOLI record");
        break;
    case 5:
        type = "4";
        extra = QStringLiteral(" without a MOLI record");
        break;
    default:
        type = byte(rng.pick(QByteArrayView("\0 \t\x7F\xFF", 5)));
        break;
    }
    parts.body = type + parts.body.sliced(1);
    const QString title = type.isEmpty() ? QStringLiteral("no type digit")
                                         : QStringLiteral("type %1%2").arg(quoted(type), extra);
    return makeCase(ProbeLink::Type4, title, oneWrite(parts.frame()));
}

ProbeCase type4Fields(Context &c) {
    Rng &rng = c.rng;
    const int variant = c.variant(8);
    const Moli moli = variant >= 5 ? Moli::With : (variant == 4 ? Moli::Without : Moli::Any);
    Type4Parts parts = validType4(rng, moli);
    const char type = parts.body.front();
    QList<QByteArray> values = recordValues(parts.body);
    const qsizetype ipnd = rng.between(1, kIpndFieldCount);
    const qsizetype moliField = kIpndFieldCount + rng.between(1, kMoliFieldCount);
    const auto overlong = [&](qsizetype field, qsizetype chars) {
        values[field] = rng.text(chars, kUpper);
        return QStringLiteral("%1 of %2 characters (at most %3)")
            .arg(fieldName(field))
            .arg(chars)
            .arg(layoutOf(field).width);
    };
    QString title;
    switch (variant) {
    case 0:
        values.removeAt(ipnd);
        title = fieldName(ipnd) + QStringLiteral(" missing");
        break;
    case 1: {
        const qsizetype after = rng.between(0, values.size() - 1);
        values.insert(after + 1, rng.text(rng.between(0, 8), kUpper));
        title = QStringLiteral("an extra field after field %1").arg(after);
        break;
    }
    case 2: {
        const qsizetype width = layoutOf(ipnd).width;
        title = overlong(ipnd, width + rng.between(1, width));
        break;
    }
    case 3:
        title = overlong(ipnd, rng.between(4096, 65536));
        break;
    case 4: {
        const qsizetype kept = rng.between(0, kIpndFieldCount - 1);
        values.resize(kept + 1);
        title = QStringLiteral("only %1 of %2 IPND fields").arg(kept).arg(kIpndFieldCount);
        break;
    }
    case 5:
        values.removeAt(moliField);
        title = fieldName(moliField) + QStringLiteral(" missing");
        break;
    case 6: {
        const qsizetype width = layoutOf(moliField).width;
        title = overlong(moliField, width + rng.between(1, width));
        break;
    }
    default: {
        const char shape = rng.pick("BDFGHIJKLMQRSTUVWYZ0123456789ocapenx ");
        values[kIpndFieldCount + kMoliShapeField] = byte(shape);
        title = QStringLiteral("MOLI shape %1").arg(quoted(byte(shape)));
        break;
    }
    }
    parts.body = joinBody(type, values);
    return makeCase(ProbeLink::Type4, title, oneWrite(parts.frame()));
}

ProbeCase type4Bytes(Context &c) {
    Rng &rng = c.rng;
    Type4Parts parts = validType4(rng);
    QList<QByteArray> values = recordValues(parts.body);
    QByteArray damage;
    QString what;
    const int variant = c.variant(8);
    switch (variant) {
    case 0:
        damage = QByteArray(1, '\0');
        what = QStringLiteral("a NUL byte");
        break;
    case 1: {
        const qint64 code = rng.between(1, 0x20);
        damage = byte(code == 0x20 ? 0x7F : code);
        what = QStringLiteral("control byte %1").arg(printable(damage));
        break;
    }
    case 2:
        damage = "\r\n";
        what = QStringLiteral("CR LF");
        break;
    case 3:
        damage = rng.coin() ? heartbeatBytes() : heartbeatAnswerBytes();
        what = QStringLiteral("heartbeat bytes %1").arg(printable(damage));
        break;
    case 4:
        damage = byte(rng.between(0x80, 0xFF));
        what = QStringLiteral("8-bit byte %1").arg(printable(damage));
        break;
    case 5: {
        static constexpr std::array<const char *, 4> kUtf8 = {"\xC3\xA9", "\xC3\xBC",
                                                              "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
        damage = rng.pick(std::span<const char *const>(kUtf8));
        what = QStringLiteral("UTF-8 text %1").arg(printable(damage));
        break;
    }
    case 6: {
        static constexpr std::array<const char *, 4> kBroken = {"\xC3(", "\xFF", "\xC0\x80",
                                                                "\xE2\x82"};
        damage = rng.pick(std::span<const char *const>(kBroken));
        what = QStringLiteral("invalid UTF-8 %1").arg(printable(damage));
        break;
    }
    default:
        break; // random bytes, sized to the field below
    }
    // A field wide enough for the damage, which stays within its width: the
    // record keeps its shape and only the bytes are wrong.
    QList<qsizetype> roomy;
    for (qsizetype field = 1; field < values.size(); ++field)
        if (layoutOf(field).width >= qMax<qsizetype>(damage.size(), 1))
            roomy.append(field);
    const qsizetype field = roomy.at(rng.below(roomy.size()));
    const qsizetype width = layoutOf(field).width;
    if (variant == 7) {
        damage =
            rng.text(rng.between(1, width), QByteArrayView("\x00\x01\x02\x03\x04\x1B\x7F\x80\x9F"
                                                           "\xA0\xC3\xE2\xF0\xFE\xFF",
                                                           15));
        what = QStringLiteral("%1 random bytes").arg(damage.size());
    }
    QByteArray &value = values[field];
    const qsizetype at = rng.between(0, qMin(value.size(), width - damage.size()));
    value.insert(at, damage);
    value.truncate(width);
    parts.body = joinBody(parts.body.front(), values);
    return makeCase(ProbeLink::Type4, QStringLiteral("%1 in %2").arg(what, fieldName(field)),
                    oneWrite(parts.frame()));
}

ProbeCase type4Empty(Context &c) {
    Rng &rng = c.rng;
    const QByteArray id = rng.text(3, kDigits);
    const QByteArray zero = type4LengthField(0);
    switch (c.variant(7)) {
    case 0:
        return makeCase(ProbeLink::Type4, QStringLiteral("length 0000, no body"),
                        oneWrite(id + zero));
    case 1: {
        const Type4Parts parts = validType4(rng);
        return makeCase(ProbeLink::Type4, QStringLiteral("length 0000, then a whole body"),
                        oneWrite(id + zero + parts.body));
    }
    case 2:
        return makeCase(ProbeLink::Type4, QStringLiteral("length 0001, body \"3\""),
                        oneWrite(id + type4LengthField(1) + '3'));
    case 3:
        return makeCase(ProbeLink::Type4, QStringLiteral("length 0002, body \"3|\""),
                        oneWrite(id + type4LengthField(2) + "3|"));
    case 4:
        return makeCase(ProbeLink::Type4, QStringLiteral("terminal ID alone"), oneWrite(id));
    case 5:
        return makeCase(ProbeLink::Type4, QStringLiteral("nothing at all, then closed"), {});
    default: {
        const qint64 times = rng.between(2, 20);
        return makeCase(ProbeLink::Type4, QStringLiteral("%1 empty frames in one write").arg(times),
                        oneWrite(repeated(QByteArray(id + zero), times)));
    }
    }
}

ProbeCase type4Huge(Context &c) {
    Rng &rng = c.rng;
    Type4Parts parts = validType4(rng);
    const qsizetype bodyChars =
        bodyCharsForFrame(qMin<qint64>(kHugeType4FrameBytes, c.limits.maxCaseBytes));
    const int variant = c.variant(3);
    QString title;
    if (variant < 2) {
        QList<QByteArray> values = recordValues(parts.body);
        const qsizetype field = rng.between(1, values.size() - 1);
        const qsizetype rest = parts.body.size() - values[field].size();
        values[field] = QByteArray(qMax<qsizetype>(bodyChars - rest, 0), rng.pick(kUpper));
        parts.body = joinBody(parts.body.front(), values);
        title =
            QStringLiteral("%1 of %2 characters").arg(fieldName(field)).arg(values[field].size());
    } else {
        const qsizetype extra = qMax<qsizetype>(bodyChars - parts.body.size(), 0);
        parts.body += QByteArray(extra, '|');
        title = QStringLiteral("%1 empty fields after the record").arg(extra);
    }
    const QByteArray frame = parts.frame();
    const bool pieces = variant == 1;
    return makeCase(ProbeLink::Type4,
                    QStringLiteral("frame of %1 bytes, %2%3")
                        .arg(frame.size())
                        .arg(title, pieces ? QStringLiteral(", in 64 KiB writes") : QString()),
                    pieces ? chunked(frame, kLargeWriteBytes, 0) : oneWrite(frame));
}

// --- Type 5 material ---

QByteArray startTag(QByteArrayView name) {
    return '<' + name.toByteArray() + '>';
}

QByteArray endTag(QByteArrayView name) {
    return "</" + name.toByteArray() + '>';
}

struct Leaf {
    const AmlGroup *group = nullptr;
    const AmlElement *element = nullptr;
};

// Where a leaf stands in a document laid out as the canned one: its start
// tag at start, its value from valueStart to valueEnd, its end tag ending at
// end. Unset when the group holds no such leaf.
struct LeafSpot {
    qsizetype start = 0, valueStart = 0, valueEnd = 0, end = 0;
};

std::optional<LeafSpot> findLeaf(const QByteArray &document, const Leaf &leaf) {
    const qsizetype groupStart = document.indexOf(startTag(leaf.group->name));
    const qsizetype groupEnd = document.indexOf(endTag(leaf.group->name), groupStart);
    const QByteArray open = startTag(leaf.element->name);
    const qsizetype start = document.indexOf(open, groupStart);
    if (groupStart < 0 || start < 0 || start > groupEnd)
        return std::nullopt;
    LeafSpot spot;
    spot.start = start;
    spot.valueStart = start + open.size();
    spot.valueEnd = document.indexOf(endTag(leaf.element->name), spot.valueStart);
    spot.end = spot.valueEnd + endTag(leaf.element->name).size();
    return spot;
}

Leaf randomLeaf(Rng &rng) {
    const AmlGroup &group = rng.pick(amlLayout());
    return {&group, &rng.pick(group.elements)};
}

// A leaf whose value may be any text: one that only its size makes wrong.
Leaf randomTextLeaf(Rng &rng) {
    for (;;) {
        const Leaf leaf = randomLeaf(rng);
        if (leaf.element->form == AmlValueForm::Text)
            return leaf;
    }
}

Leaf leafNamed(QByteArrayView name) {
    for (const AmlGroup &group : amlLayout())
        for (const AmlElement &element : group.elements)
            if (name == element.name)
                return {&group, &element};
    return {};
}

QByteArray withValue(QByteArray document, const Leaf &leaf, const QByteArray &value) {
    const LeafSpot spot = *findLeaf(document, leaf);
    return document.replace(spot.valueStart, spot.valueEnd - spot.valueStart, value);
}

// The document with `text` put into a random leaf's value at a random place.
QByteArray withInsertedText(Rng &rng, const QByteArray &text, QString &where) {
    const Leaf leaf = randomLeaf(rng);
    const LeafSpot spot = *findLeaf(cannedAmlDocument(), leaf);
    const qsizetype at = rng.between(spot.valueStart, spot.valueEnd);
    where = QLatin1StringView(leaf.element->name);
    return QByteArray(cannedAmlDocument()).insert(at, text);
}

QByteArray withDoctype(const QByteArray &document, const QByteArray &declarations) {
    const qsizetype afterDeclaration = QByteArrayView(kAmlXmlDeclaration).size();
    return QByteArray(document).insert(afterDeclaration,
                                       "\r\n<!DOCTYPE CLI_Data [" + declarations + "]>");
}

ProbeCase type5Case(const QString &title, const QByteArray &document) {
    return makeCase(ProbeLink::Type5, title, oneWrite(document));
}

// --- Type 5 families ---

// Markup that breaks the XML, or expands it, with the document's end tag
// still last so a receiver that splits documents there sees one.
ProbeCase type5Xml(Context &c) {
    Rng &rng = c.rng;
    const QByteArray canned = cannedAmlDocument();
    QString where;
    switch (c.variant(14)) {
    case 0: {
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        return type5Case(
            QStringLiteral("no end tag for %1").arg(QLatin1StringView(leaf.element->name)),
            QByteArray(canned).remove(spot.valueEnd, spot.end - spot.valueEnd));
    }
    case 1: {
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        const QByteArray wrong = endTag(leaf.element->name + byte(rng.pick(kLetters)));
        return type5Case(
            QStringLiteral("%1 ends with %2")
                .arg(QLatin1StringView(leaf.element->name), quoted(wrong)),
            QByteArray(canned).replace(spot.valueEnd, spot.end - spot.valueEnd, wrong));
    }
    case 2: {
        const AmlGroup &group = rng.pick(amlLayout());
        const Leaf last{&group, &group.elements.back()};
        const LeafSpot spot = *findLeaf(canned, last);
        const QByteArray leafEnd = endTag(last.element->name);
        QByteArray document = QByteArray(canned).remove(spot.valueEnd, leafEnd.size());
        const QByteArray groupEnd = endTag(group.name);
        document.insert(document.indexOf(groupEnd, spot.valueEnd) + groupEnd.size(), leafEnd);
        return type5Case(
            QStringLiteral("%1 ends after %2")
                .arg(QLatin1StringView(last.element->name), QLatin1StringView(group.name)),
            document);
    }
    case 3: {
        const QByteArray reference = "&undefined" + rng.text(4, kUpper) + ';';
        const QByteArray document = withInsertedText(rng, reference, where);
        return type5Case(QStringLiteral("undefined entity %1 in %2").arg(quoted(reference), where),
                         document);
    }
    case 4: {
        const QByteArray document = withInsertedText(rng, "&a;", where);
        return type5Case(QStringLiteral("recursive entities a and b in %1").arg(where),
                         withDoctype(document, "<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">"));
    }
    case 5: {
        // Ten of the level below per level: kept to 10^4 x 3 bytes expanded.
        const qint64 levels = rng.between(2, 4);
        QByteArray declarations = "<!ENTITY l0 \"lol\">";
        for (qint64 level = 1; level <= levels; ++level)
            declarations += "<!ENTITY l" + QByteArray::number(level) + " \"" +
                            repeated(QByteArray("&l" + QByteArray::number(level - 1) + ';'), 10) +
                            "\">";
        const QByteArray document =
            withInsertedText(rng, "&l" + QByteArray::number(levels) + ';', where);
        return type5Case(
            QStringLiteral("nested entities, %1 levels of ten, in %2").arg(levels).arg(where),
            withDoctype(document, declarations));
    }
    case 6: {
        const QByteArray document = withInsertedText(rng, "&outside;", where);
        return type5Case(
            QStringLiteral("external entity to a missing file in %1").arg(where),
            withDoctype(document,
                        "<!ENTITY outside SYSTEM \"file:///nonexistent/talvgen-probe.txt\">"));
    }
    case 7: {
        const QByteArray document = withInsertedText(rng, "<", where);
        return type5Case(QStringLiteral("a bare \"<\" in %1").arg(where), document);
    }
    case 8: {
        const QByteArray document = withInsertedText(rng, " & ", where);
        return type5Case(QStringLiteral("a bare \"&\" in %1").arg(where), document);
    }
    case 9: {
        const qint64 depth = rng.between(256, 4096);
        const QByteArray nest = repeated("<d>", depth) + repeated("</d>", depth);
        const QByteArray document = withInsertedText(rng, nest, where);
        return type5Case(QStringLiteral("elements %1 deep in %2").arg(depth).arg(where), document);
    }
    case 10: {
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        return type5Case(QStringLiteral("a comment opened before %1, never closed")
                             .arg(QLatin1StringView(leaf.element->name)),
                         QByteArray(canned).insert(spot.start, "<!-- "));
    }
    case 11: {
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        return type5Case(QStringLiteral("%1 with a repeated attribute")
                             .arg(QLatin1StringView(leaf.element->name)),
                         QByteArray(canned).insert(spot.valueStart - 1, " a=\"1\" a=\"2\""));
    }
    case 12: {
        const QByteArray document = withInsertedText(rng, "<![CDATA[", where);
        return type5Case(QStringLiteral("a CDATA section opened in %1, never closed").arg(where),
                         document);
    }
    default: {
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        return type5Case(QStringLiteral("a second XML declaration before %1")
                             .arg(QLatin1StringView(leaf.element->name)),
                         QByteArray(canned).insert(spot.start, kAmlXmlDeclaration));
    }
    }
}

// Removes a leaf with the line break before it, when it stands on a line of its own.
void removeLeaf(QByteArray &document, const Leaf &leaf) {
    const std::optional<LeafSpot> spot = findLeaf(document, leaf);
    if (!spot)
        return;
    const qsizetype from = QByteArrayView(document).first(spot->start).endsWith("\r\n")
                               ? spot->start - 2
                               : spot->start;
    document.remove(from, spot->end - from);
}

ProbeCase type5Missing(Context &c) {
    Rng &rng = c.rng;
    QByteArray document = cannedAmlDocument();
    switch (c.variant(5)) {
    case 0: {
        const Leaf leaf = randomLeaf(rng);
        removeLeaf(document, leaf);
        return type5Case(
            QStringLiteral("%1 missing from %2")
                .arg(QLatin1StringView(leaf.element->name), QLatin1StringView(leaf.group->name)),
            document);
    }
    case 1: {
        const qint64 count = rng.between(2, 8);
        for (qint64 i = 0; i < count; ++i)
            removeLeaf(document, randomLeaf(rng));
        return type5Case(QStringLiteral("%1 elements missing").arg(count), document);
    }
    case 2: {
        const AmlGroup &group = rng.pick(amlLayout());
        const qsizetype start = document.indexOf("\r\n" + startTag(group.name));
        const qsizetype end = document.indexOf(endTag(group.name)) + endTag(group.name).size();
        return type5Case(QStringLiteral("group %1 missing").arg(QLatin1StringView(group.name)),
                         document.remove(start, end - start));
    }
    case 3: {
        const AmlGroup &group = rng.pick(amlLayout());
        const qsizetype start =
            document.indexOf(startTag(group.name)) + startTag(group.name).size();
        const qsizetype end = document.indexOf(endTag(group.name));
        return type5Case(
            QStringLiteral("group %1 with no elements").arg(QLatin1StringView(group.name)),
            document.remove(start, end - start));
    }
    default:
        return type5Case(QStringLiteral("%1 with no groups").arg(QLatin1StringView(kAmlRootName)),
                         kAmlXmlDeclaration + startTag(kAmlRootName) + "\r\n" + kAmlDocumentEnd);
    }
}

// Degrees past the limit with five decimals: "+90.00001" to "+999.99999".
QByteArray beyondDegrees(Rng &rng, qint64 limit) {
    const qint64 whole = rng.between(limit, 999);
    const qint64 fraction = rng.between(whole == limit ? 1 : 0, 99'999);
    const char sign = rng.coin() ? '+' : '-';
    return sign + QByteArray::number(whole) + '.' +
           QByteArray::number(fraction).rightJustified(5, '0');
}

QByteArray badDate(Rng &rng) {
    switch (rng.below(4)) {
    case 0:
        return "2019-" + twoDigits(rng.between(13, 99)) + "-04";
    case 1:
        return "2019-02-" + twoDigits(rng.between(29, 31)); // 2019 is no leap year
    case 2:
        static constexpr std::array<const char *, 4> kShortMonths = {"04", "06", "09", "11"};
        return "2019-" + QByteArray(rng.pick(std::span<const char *const>(kShortMonths))) + "-31";
    default:
        return "0000-00-00";
    }
}

QByteArray badTime(Rng &rng) {
    switch (rng.below(3)) {
    case 0:
        return twoDigits(rng.between(24, 99)) + ":40:06";
    case 1:
        return "13:" + twoDigits(rng.between(60, 99)) + ":06";
    default:
        return "13:40:" + twoDigits(rng.between(60, 99));
    }
}

// A MOLI coordinate "DD MM SS.sssH" with one part out of range.
QByteArray badCoordinate(Rng &rng, bool latitude) {
    const qint64 degreesLimit = latitude ? 90 : 180;
    QByteArray degrees = QByteArray::number(latitude ? 33 : 151);
    QByteArray minutes = "49";
    QByteArray seconds = "07.250";
    QByteArray hemisphere = latitude ? "S" : "E";
    switch (rng.below(4)) {
    case 0:
        degrees = QByteArray::number(rng.between(degreesLimit + 1, 999));
        break;
    case 1:
        minutes = twoDigits(rng.between(60, 99));
        break;
    case 2:
        seconds = twoDigits(rng.between(60, 99)) + ".000";
        break;
    default:
        hemisphere = byte(rng.pick("QZX"));
        break;
    }
    return degrees + ' ' + minutes + ' ' + seconds + hemisphere;
}

ProbeCase type5Range(Context &c) {
    Rng &rng = c.rng;
    QByteArray name;
    QByteArray value;
    switch (c.variant(9)) {
    case 0:
        name = "AML_Latitude";
        value = beyondDegrees(rng, 90);
        break;
    case 1:
        name = "AML_Longitude";
        value = beyondDegrees(rng, 180);
        break;
    case 2: {
        static constexpr std::array<const char *, 6> kNotNumbers = {
            "NaN", "Infinity", "-Infinity", "1e999", "+55.74317.1", "+55,74317"};
        name = rng.coin() ? "AML_Latitude" : "AML_Longitude";
        value = rng.pick(std::span<const char *const>(kNotNumbers));
        break;
    }
    case 3:
        name = "AML_Radius";
        value = rng.coin() ? '-' + QByteArray::number(rng.between(1, 99'999)) : QByteArray(20, '9');
        break;
    case 4:
        name = "AML_Level_of_Confidence_LOC";
        value = rng.coin() ? QByteArray::number(rng.between(101, 999))
                           : '-' + QByteArray::number(rng.between(1, 100));
        break;
    case 5:
        name = "Date_Sent";
        value = badDate(rng);
        break;
    case 6:
        name = "Time_Sent";
        value = badTime(rng);
        break;
    case 7: {
        static constexpr std::array<const char *, 3> kDateTimes = {
            "Transaction_Date", "Service_Status_Date", "AML_Time_of_Positioning_TOP"};
        name = rng.pick(std::span<const char *const>(kDateTimes));
        if (rng.coin())
            value = badDate(rng) + " 10:43:23";
        else
            value = "2010-07-09 " + badTime(rng);
        break;
    }
    default: {
        const bool latitude = rng.coin();
        name = latitude ? "Centre_X" : "Centre_Y";
        value = badCoordinate(rng, latitude);
        break;
    }
    }
    return type5Case(QStringLiteral("%1 %2").arg(QLatin1StringView(name), quoted(value)),
                     withValue(cannedAmlDocument(), leafNamed(name), value));
}

ProbeCase type5Huge(Context &c) {
    Rng &rng = c.rng;
    const QByteArray canned = cannedAmlDocument();
    const qint64 drawn = rng.between(kHugeType5MinBytes, kHugeType5MaxBytes);
    const qint64 target = qMin(drawn, c.limits.maxCaseBytes);
    const qsizetype room = qMax<qsizetype>(target - canned.size(), 0);
    const Leaf leaf = randomTextLeaf(rng);
    const LeafSpot spot = *findLeaf(canned, leaf);
    const int variant = c.variant(4);
    QByteArray document;
    QString title;
    if (variant < 2) {
        const qsizetype chars = room + (spot.valueEnd - spot.valueStart);
        document = withValue(canned, leaf, QByteArray(chars, rng.pick(kUpper)));
        title = QStringLiteral("%1 of %2 characters")
                    .arg(QLatin1StringView(leaf.element->name))
                    .arg(chars);
    } else if (variant == 2) {
        document = QByteArray(canned).insert(spot.end, QByteArray(room, rng.pick(" \t\n")));
        title = QStringLiteral("%1 bytes of white space after %2")
                    .arg(room)
                    .arg(QLatin1StringView(leaf.element->name));
    } else {
        const qsizetype inside = qMax<qsizetype>(room - 7, 0);
        document = QByteArray(canned).insert(spot.end,
                                             "<!--" + QByteArray(inside, rng.pick(kUpper)) + "-->");
        title = QStringLiteral("a comment of %1 bytes after %2")
                    .arg(inside)
                    .arg(QLatin1StringView(leaf.element->name));
    }
    const bool pieces = variant == 1;
    return makeCase(ProbeLink::Type5,
                    QStringLiteral("document of %1 bytes, %2%3")
                        .arg(document.size())
                        .arg(title, pieces ? QStringLiteral(", in 64 KiB writes") : QString()),
                    pieces ? chunked(document, kLargeWriteBytes, 0) : oneWrite(document));
}

ProbeCase type5Encoding(Context &c) {
    Rng &rng = c.rng;
    QByteArray bytes;
    QString what;
    QString where;
    switch (c.variant(9)) {
    case 0:
        bytes = byte(rng.between(0x80, 0xBF));
        what = QStringLiteral("a lone continuation byte");
        break;
    case 1: {
        // Right before the end tag, so "<" follows the lead byte.
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(cannedAmlDocument(), leaf);
        const QByteArray lead = byte(rng.between(0xC2, 0xF4));
        return type5Case(QStringLiteral("a sequence cut short %1 in %2")
                             .arg(printable(lead), QLatin1StringView(leaf.element->name)),
                         QByteArray(cannedAmlDocument()).insert(spot.valueEnd, lead));
    }
    case 2: {
        static constexpr std::array<const char *, 4> kOverlong = {
            "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF"};
        bytes = rng.pick(std::span<const char *const>(kOverlong));
        what = QStringLiteral("an overlong form");
        break;
    }
    case 3: {
        bytes = "\xED" + byte(rng.between(0xA0, 0xBF));
        bytes += char(quint8(rng.between(0x80, 0xBF)));
        what = QStringLiteral("a UTF-16 surrogate");
        break;
    }
    case 4: {
        static constexpr std::array<const char *, 3> kBeyond = {
            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80"};
        bytes = rng.pick(std::span<const char *const>(kBeyond));
        what = QStringLiteral("a code point past U+10FFFF");
        break;
    }
    case 5:
        bytes = byte(rng.pick("\xFE\xFF"));
        what = QStringLiteral("a byte UTF-8 never uses");
        break;
    case 6: {
        static constexpr std::array<const char *, 3> kLatin1 = {"M\xFCller", "Caf\xE9", "\xC6gir"};
        bytes = rng.pick(std::span<const char *const>(kLatin1));
        what = QStringLiteral("Latin-1 text");
        break;
    }
    case 7: {
        static constexpr char kForbidden[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x0B\x0C\x0E\x0F"
                                             "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B"
                                             "\x1C\x1D\x1E\x1F";
        bytes = byte(rng.pick(kForbidden));
        what = QStringLiteral("a control byte XML forbids");
        break;
    }
    default: {
        const QByteArray encoding = rng.coin() ? "UTF-16" : "UCS-4";
        const QByteArray document =
            QByteArray(cannedAmlDocument())
                .replace("encoding=\"UTF-8\"", "encoding=\"" + encoding + '"');
        return type5Case(
            QStringLiteral("declared %1, sent as 8-bit text").arg(QLatin1StringView(encoding)),
            document);
    }
    }
    const QByteArray document = withInsertedText(rng, bytes, where);
    return type5Case(QStringLiteral("%1 %2 in %3").arg(what, printable(bytes), where), document);
}

ProbeCase type5Endless(Context &c) {
    Rng &rng = c.rng;
    const QByteArray canned = cannedAmlDocument();
    ProbeCase probe;
    switch (c.variant(3)) {
    case 0: {
        const qsizetype cut = rng.between(1, canned.size() - 1);
        probe = makeCase(
            ProbeLink::Type5,
            QStringLiteral("document stopped after %1 of %2 bytes").arg(cut).arg(canned.size()),
            oneWrite(canned.first(cut)));
        break;
    }
    case 1:
        probe = makeCase(ProbeLink::Type5, QStringLiteral("declaration and root start tag only"),
                         oneWrite(canned.first(canned.indexOf(startTag(kAmlRootName)) +
                                               startTag(kAmlRootName).size())));
        break;
    default: {
        // A value that keeps coming for half the case's time.
        const Leaf leaf = randomLeaf(rng);
        const LeafSpot spot = *findLeaf(canned, leaf);
        const qint64 pieces = rng.between(5, 20);
        const qint64 delayUs = c.limits.maxCaseMs * 1000 / 2 / pieces;
        probe = makeCase(ProbeLink::Type5,
                         QStringLiteral("%1 growing in %2 pieces, never ended")
                             .arg(QLatin1StringView(leaf.element->name))
                             .arg(pieces),
                         oneWrite(canned.first(spot.valueStart)));
        for (qint64 i = 0; i < pieces; ++i) {
            const qsizetype size = rng.between(1024, 4096);
            probe.writes.append(ProbeWrite{rng.text(size, kLetters), delayUs});
        }
        break;
    }
    }
    probe.ending = ProbeEnding::HoldOpen;
    probe.holdMs = c.limits.maxCaseMs - probe.durationMs();
    return probe;
}

// --- TCP families ---

struct Valid {
    ProbeLink link = ProbeLink::Type4;
    QByteArray bytes;
    QString what;
};

Valid validFrame(Rng &rng) {
    return {ProbeLink::Type4, validType4(rng).frame(), QStringLiteral("valid frame")};
}

Valid validDocument() {
    return {ProbeLink::Type5, cannedAmlDocument(), QStringLiteral("AML document")};
}

Valid validOn(Rng &rng, bool type5) {
    return type5 ? validDocument() : validFrame(rng);
}

ProbeCase tcpTrickle(Context &c) {
    const Valid valid = validOn(c.rng, c.variant(3) == 2);
    const qsizetype chunk = (valid.bytes.size() + kMostTrickleWrites - 1) / kMostTrickleWrites;
    const qsizetype writes = (valid.bytes.size() + chunk - 1) / chunk;
    const qint64 budgetUs = qMin(kTrickleBudgetMs, c.limits.maxCaseMs) * 1000;
    const qint64 delayUs = writes > 1 ? qMin(budgetUs / (writes - 1), kLongestTrickleDelayUs) : 0;
    return makeCase(valid.link,
                    QStringLiteral("%1 of %2 bytes, %3 at a time, %4 us apart")
                        .arg(valid.what)
                        .arg(valid.bytes.size())
                        .arg(chunk)
                        .arg(delayUs),
                    chunked(valid.bytes, chunk, delayUs));
}

// Even cases split the run's frame, odd ones the AML document; each walks
// through every split point in turn, the document from its end backwards.
ProbeCase tcpSplit(Context &c) {
    Rng run(c.runSeed);
    const QByteArray frame = validType4(run).frame();
    const qint64 frameOffset = run.below(frame.size() - 1);
    const QByteArray document = cannedAmlDocument();
    const qint64 documentOffset = run.below(document.size() - 1);
    const qint64 step = c.index / 2;
    const bool type5 = c.index % 2 == 1;
    const QByteArray &bytes = type5 ? document : frame;
    const qsizetype at = type5
                             ? document.size() - 1 - (step + documentOffset) % (document.size() - 1)
                             : 1 + (step + frameOffset) % (frame.size() - 1);
    return makeCase(type5 ? ProbeLink::Type5 : ProbeLink::Type4,
                    QStringLiteral("%1 split at byte %2 of %3")
                        .arg(type5 ? QStringLiteral("AML document") : QStringLiteral("valid frame"))
                        .arg(at)
                        .arg(bytes.size()),
                    splitAt(bytes, at, kSplitDelayUs));
}

ProbeCase tcpCoalesced(Context &c) {
    Rng &rng = c.rng;
    const int variant = c.variant(5);
    const bool type5 = variant >= 3;
    const qint64 count = variant == 1 ? rng.between(3, 10) : 2;
    QList<QByteArray> pieces;
    for (qint64 i = 0; i < count; ++i)
        pieces.append(validOn(rng, type5).bytes);
    const QByteArray bytes = pieces.join();
    const ProbeLink link = type5 ? ProbeLink::Type5 : ProbeLink::Type4;
    const QString what = type5 ? QStringLiteral("AML document") : QStringLiteral("valid frame");
    const QString whats = type5 ? QStringLiteral("AML documents") : QStringLiteral("valid frames");
    if (variant == 2 || variant == 4) {
        // The first whole and the second cut somewhere inside; its rest follows.
        const qsizetype at = pieces[0].size() + rng.between(1, pieces[1].size() - 1);
        return makeCase(link,
                        QStringLiteral("%1 and %2 bytes of the next in one write, the rest later")
                            .arg(what)
                            .arg(at - pieces[0].size()),
                        splitAt(bytes, at, kSplitDelayUs));
    }
    return makeCase(link, QStringLiteral("%1 %2 in one write").arg(count).arg(whats),
                    oneWrite(bytes));
}

ProbeCase tcpSilent(Context &c) {
    const int variant = c.variant(3);
    if (variant == 2)
        return makeCase(ProbeLink::Type4, QStringLiteral("connected and closed, nothing sent"), {});
    const bool type5 = variant == 1;
    ProbeCase probe = makeCase(type5 ? ProbeLink::Type5 : ProbeLink::Type4, QString(), {});
    probe.ending = ProbeEnding::HoldOpen;
    probe.holdMs = c.holdMs();
    probe.title = QStringLiteral("nothing sent for %1 ms").arg(probe.holdMs);
    return probe;
}

ProbeCase tcpHalfClose(Context &c) {
    Rng &rng = c.rng;
    ProbeCase probe;
    switch (c.variant(4)) {
    case 0:
    case 1: {
        const Valid valid = validOn(rng, c.variant(4) == 1);
        probe = makeCase(valid.link, QStringLiteral("%1, then half-closed").arg(valid.what),
                         oneWrite(valid.bytes));
        break;
    }
    case 2: {
        const Valid valid = validFrame(rng);
        const qsizetype at = rng.between(1, valid.bytes.size() - 1);
        probe = makeCase(valid.link,
                         QStringLiteral("%1 bytes of a %2-byte frame, then half-closed")
                             .arg(at)
                             .arg(valid.bytes.size()),
                         oneWrite(valid.bytes.first(at)));
        break;
    }
    default:
        probe = makeCase(ProbeLink::Type4, QStringLiteral("half-closed at once, nothing sent"), {});
        break;
    }
    probe.ending = ProbeEnding::HalfClose;
    return probe;
}

ProbeCase tcpReset(Context &c) {
    Rng &rng = c.rng;
    const int variant = c.variant(3);
    const Valid valid = validOn(rng, variant == 1);
    const qsizetype at = variant == 2 ? valid.bytes.size() : rng.between(1, valid.bytes.size() - 1);
    ProbeCase probe =
        makeCase(valid.link,
                 variant == 2 ? QStringLiteral("%1, then reset at once").arg(valid.what)
                              : QStringLiteral("%1 reset after %2 of %3 bytes")
                                    .arg(valid.what)
                                    .arg(at)
                                    .arg(valid.bytes.size()),
                 oneWrite(valid.bytes.first(at)));
    probe.ending = ProbeEnding::Reset;
    return probe;
}

ProbeCase tcpMany(Context &c) {
    Rng &rng = c.rng;
    const int most = qMax(c.limits.maxConnections, 1);
    const int connections = int(rng.between(qMax(most / 2, 1), most));
    ProbeCase probe;
    switch (c.variant(3)) {
    case 0: {
        const Valid valid = validFrame(rng);
        probe = makeCase(valid.link,
                         QStringLiteral("%1 connections, a valid frame on each").arg(connections),
                         oneWrite(valid.bytes));
        break;
    }
    case 1:
        probe = makeCase(ProbeLink::Type4, QString(), {});
        probe.ending = ProbeEnding::HoldOpen;
        probe.holdMs = c.holdMs();
        probe.title = QStringLiteral("%1 connections held open silently for %2 ms")
                          .arg(connections)
                          .arg(probe.holdMs);
        break;
    default:
        probe = makeCase(
            ProbeLink::Type5,
            QStringLiteral("%1 link 2 connections, the AML document on each").arg(connections),
            oneWrite(cannedAmlDocument()));
        break;
    }
    probe.connections = connections;
    return probe;
}

ProbeCase tcpHeartbeat(Context &c) {
    Rng &rng = c.rng;
    const QByteArray document = cannedAmlDocument();
    ProbeCase probe = makeCase(ProbeLink::Type5, QString(), oneWrite(document));
    switch (c.variant(6)) {
    case 0:
        probe.heartbeat = ProbeHeartbeat::Late;
        probe.heartbeatLateMs = rng.between(qMax<qint64>(c.limits.maxCaseMs / 4, 1),
                                            qMax<qint64>(c.limits.maxCaseMs / 2, 1));
        probe.title = QStringLiteral("heartbeats answered %1 ms late").arg(probe.heartbeatLateMs);
        break;
    case 1:
        probe.heartbeat = ProbeHeartbeat::Never;
        probe.title = QStringLiteral("heartbeats never answered");
        break;
    case 2:
        probe.heartbeat = ProbeHeartbeat::Twice;
        probe.title = QStringLiteral("heartbeats answered twice");
        break;
    case 3:
        probe.writes.prepend(ProbeWrite{heartbeatAnswerBytes(), 0});
        probe.title = QStringLiteral("a heartbeat answer nobody asked for, then the document");
        break;
    case 4:
        probe.writes.prepend(ProbeWrite{heartbeatBytes(), 0});
        probe.title = QStringLiteral("a heartbeat of our own, then the document");
        break;
    default: {
        const qsizetype at = rng.between(1, document.size() - 1);
        probe.writes = oneWrite(document.first(at) + heartbeatAnswerBytes() + document.sliced(at));
        probe.title = QStringLiteral("a heartbeat answer inside the document at byte %1").arg(at);
        break;
    }
    }
    probe.ending = ProbeEnding::HoldOpen;
    probe.holdMs = c.limits.maxCaseMs;
    return probe;
}

// --- the families and the bounds ---

struct Family {
    const char *name;
    ProbeCase (*make)(Context &);
};

constexpr std::array<Family, 22> kFamilies = {{
    {"type4-length", type4Length},
    {"type4-body-size", type4BodySize},
    {"type4-terminal-id", type4TerminalId},
    {"type4-type-digit", type4TypeDigit},
    {"type4-fields", type4Fields},
    {"type4-bytes", type4Bytes},
    {"type4-empty", type4Empty},
    {"type4-huge", type4Huge},
    {"type5-xml", type5Xml},
    {"type5-missing", type5Missing},
    {"type5-range", type5Range},
    {"type5-huge", type5Huge},
    {"type5-encoding", type5Encoding},
    {"type5-endless", type5Endless},
    {"tcp-trickle", tcpTrickle},
    {"tcp-split", tcpSplit},
    {"tcp-coalesced", tcpCoalesced},
    {"tcp-silent", tcpSilent},
    {"tcp-half-close", tcpHalfClose},
    {"tcp-reset", tcpReset},
    {"tcp-many", tcpMany},
    {"tcp-heartbeat", tcpHeartbeat},
}};

const Family *findFamily(const QString &name) {
    for (const Family &family : kFamilies)
        if (name == QLatin1StringView(family.name))
            return &family;
    return nullptr;
}

qint64 delaysUs(const QList<ProbeWrite> &writes) {
    qint64 sum = 0;
    for (const ProbeWrite &write : writes)
        sum += write.delayUsBefore;
    return sum;
}

// Limits below what makes sense read as the least that does.
ProbeLimits sane(ProbeLimits limits) {
    limits.maxConnections = qMax(limits.maxConnections, 1);
    limits.maxCaseBytes = qMax<qint64>(limits.maxCaseBytes, 0);
    limits.maxCaseMs = qMax<qint64>(limits.maxCaseMs, 0);
    return limits;
}

// Cuts what a case sends to the bytes and time the limits allow.
void bound(ProbeCase &probe, const ProbeLimits &limits) {
    probe.connections = std::clamp(probe.connections, 1, limits.maxConnections);
    const qint64 bytesEach = limits.maxCaseBytes / probe.connections;
    if (probe.bytes().size() > bytesEach) {
        qint64 left = bytesEach;
        QList<ProbeWrite> kept;
        for (ProbeWrite &write : probe.writes) {
            if (left == 0)
                break;
            write.bytes.truncate(left);
            left -= write.bytes.size();
            kept.append(write);
        }
        probe.writes = kept;
        probe.title += QStringLiteral(" (cut to %1 bytes)").arg(bytesEach);
    }
    const qint64 budgetUs = limits.maxCaseMs * 1000;
    const qint64 delays = delaysUs(probe.writes);
    if (delays > budgetUs)
        for (ProbeWrite &write : probe.writes)
            write.delayUsBefore = write.delayUsBefore * budgetUs / delays;
    probe.holdMs = std::clamp<qint64>(probe.holdMs, 0,
                                      limits.maxCaseMs - (delaysUs(probe.writes) + 999) / 1000);
    probe.heartbeatLateMs = std::clamp<qint64>(probe.heartbeatLateMs, 0, probe.holdMs);
}

} // namespace

QByteArray ProbeCase::bytes() const {
    QByteArray all;
    for (const ProbeWrite &write : writes)
        all += write.bytes;
    return all;
}

qint64 ProbeCase::totalBytes() const {
    qint64 each = 0;
    for (const ProbeWrite &write : writes)
        each += write.bytes.size();
    return each * connections;
}

qint64 ProbeCase::durationMs() const {
    return (delaysUs(writes) + 999) / 1000 + holdMs;
}

bool ProbeCase::waitsOnPurpose() const {
    return ending == ProbeEnding::HoldOpen || heartbeat == ProbeHeartbeat::Late ||
           heartbeat == ProbeHeartbeat::Never || delaysUs(writes) >= kSlowDelaysUs;
}

QStringList probeFamilies() {
    QStringList names;
    for (const Family &family : kFamilies)
        names.append(QLatin1StringView(family.name));
    return names;
}

bool isProbeFamily(const QString &name) {
    return findFamily(name) != nullptr;
}

QString probeFamiliesError(const QStringList &families) {
    if (families.isEmpty())
        return QStringLiteral("no probe family chosen");
    for (qsizetype i = 0; i < families.size(); ++i) {
        if (!isProbeFamily(families[i]))
            return QStringLiteral("unknown probe family \"%1\" (known: %2)")
                .arg(families[i], probeFamilies().join(QStringLiteral(", ")));
        if (families.indexOf(families[i]) < i)
            return QStringLiteral("probe family \"%1\" named twice").arg(families[i]);
    }
    return {};
}

std::optional<ProbeCase> probeCase(const QStringList &families, quint64 seed, qint64 number,
                                   const ProbeLimits &given) {
    if (number < 0 || !probeFamiliesError(families).isEmpty())
        return std::nullopt;
    const QString &name = families.at(number % families.size());
    const qint64 index = number / families.size();
    const quint64 family = familySeed(seed, name);
    const ProbeLimits limits = sane(given);
    Context context{Rng(splitMix64(family ^ splitMix64(quint64(index)))), splitMix64(family), index,
                    limits};
    ProbeCase probe = findFamily(name)->make(context);
    probe.family = name;
    probe.seed = seed;
    probe.number = number;
    bound(probe, limits);
    return probe;
}
