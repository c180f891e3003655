// SPDX-License-Identifier: GPL-3.0-or-later
#include "probereplay.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <array>
#include <utility>

namespace {

constexpr qint64 kMaxReplayBytes = 64LL * 1024 * 1024;

constexpr std::array<std::pair<const char *, ProbeEnding>, 4> kEndings = {
    {{"close", ProbeEnding::Close},
     {"half-close", ProbeEnding::HalfClose},
     {"reset", ProbeEnding::Reset},
     {"hold-open", ProbeEnding::HoldOpen}}};

constexpr std::array<std::pair<const char *, ProbeHeartbeat>, 4> kHeartbeats = {
    {{"normal", ProbeHeartbeat::Normal},
     {"late", ProbeHeartbeat::Late},
     {"never", ProbeHeartbeat::Never},
     {"twice", ProbeHeartbeat::Twice}}};

template<typename Word, size_t N>
QString nameOf(const std::array<std::pair<const char *, Word>, N> &words, Word word) {
    for (const auto &[name, value] : words)
        if (value == word)
            return QLatin1String(name);
    return {};
}

template<typename Word, size_t N>
std::optional<Word> wordOf(const std::array<std::pair<const char *, Word>, N> &words,
                           const QString &text) {
    for (const auto &[name, value] : words)
        if (text == QLatin1String(name))
            return value;
    return std::nullopt;
}

bool isHex(const QString &text) {
    if (text.size() % 2 != 0)
        return false;
    for (const QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    return true;
}

} // namespace

QByteArray replayDocument(const ProbeCase &probe) {
    QJsonArray writes;
    for (const ProbeWrite &write : probe.writes)
        writes.append(
            QJsonObject{{QStringLiteral("delay_us"), double(write.delayUsBefore)},
                        {QStringLiteral("hex"), QString::fromLatin1(write.bytes.toHex())}});
    const QJsonObject object{
        {QStringLiteral("family"), probe.family},
        {QStringLiteral("seed"), QString::number(probe.seed)},
        {QStringLiteral("number"), double(probe.number)},
        {QStringLiteral("title"), probe.title},
        {QStringLiteral("link"),
         probe.link == ProbeLink::Type4 ? QStringLiteral("type4") : QStringLiteral("type5")},
        {QStringLiteral("ending"), nameOf(kEndings, probe.ending)},
        {QStringLiteral("hold_ms"), double(probe.holdMs)},
        {QStringLiteral("connections"), probe.connections},
        {QStringLiteral("heartbeat"), nameOf(kHeartbeats, probe.heartbeat)},
        {QStringLiteral("heartbeat_late_ms"), double(probe.heartbeatLateMs)},
        {QStringLiteral("writes"), writes},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool writeReplayFile(const QString &path, const ProbeCase &probe, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(replayDocument(probe)) < 0 ||
        !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<ProbeCase> readReplayFile(const QString &path, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxReplayBytes) {
        *error =
            QStringLiteral("%1: larger than any replay file (%2 bytes)").arg(path).arg(file.size());
        return std::nullopt;
    }
    std::optional<ProbeCase> probe = readReplayDocument(file.readAll(), error);
    if (!probe)
        *error = path + QStringLiteral(": ") + *error;
    return probe;
}

std::optional<ProbeCase> readReplayDocument(const QByteArray &json, QString *error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = parseError.error == QJsonParseError::NoError
                     ? QStringLiteral("not a replay file: no JSON object")
                     : QStringLiteral("not a replay file: %1 at byte %2")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    ProbeCase probe;
    probe.family = object.value(QStringLiteral("family")).toString();
    bool seedOk = false;
    probe.seed = object.value(QStringLiteral("seed")).toString().toULongLong(&seedOk);
    probe.number = qint64(object.value(QStringLiteral("number")).toDouble(-1));
    probe.title = object.value(QStringLiteral("title")).toString();
    const QString link = object.value(QStringLiteral("link")).toString();
    const std::optional<ProbeEnding> ending =
        wordOf(kEndings, object.value(QStringLiteral("ending")).toString());
    const std::optional<ProbeHeartbeat> heartbeat =
        wordOf(kHeartbeats, object.value(QStringLiteral("heartbeat")).toString());
    probe.holdMs = qint64(object.value(QStringLiteral("hold_ms")).toDouble(-1));
    probe.connections = object.value(QStringLiteral("connections")).toInt(0);
    probe.heartbeatLateMs = qint64(object.value(QStringLiteral("heartbeat_late_ms")).toDouble(0));
    if (!isProbeFamily(probe.family) || !seedOk || probe.number < 0 ||
        (link != QLatin1String("type4") && link != QLatin1String("type5")) || !ending ||
        !heartbeat || probe.holdMs < 0 || probe.holdMs > 60'000 || probe.connections < 1 ||
        probe.heartbeatLateMs < 0 || probe.heartbeatLateMs > 60'000 || probe.connections > 10'000) {
        *error = QStringLiteral("not a replay file: family, seed, number, link, ending, hold_ms, "
                                "connections or heartbeat missing or out of range");
        return std::nullopt;
    }
    probe.link = link == QLatin1String("type4") ? ProbeLink::Type4 : ProbeLink::Type5;
    probe.ending = *ending;
    probe.heartbeat = *heartbeat;
    for (const QJsonValue &value : object.value(QStringLiteral("writes")).toArray()) {
        const QJsonObject write = value.toObject();
        const QString hex = write.value(QStringLiteral("hex")).toString();
        const qint64 delayUs = qint64(write.value(QStringLiteral("delay_us")).toDouble(-1));
        if (!isHex(hex) || delayUs < 0 || delayUs > 60'000'000) {
            *error = QStringLiteral("not a replay file: a write with no hex bytes or a wait out "
                                    "of range");
            return std::nullopt;
        }
        probe.writes.append({QByteArray::fromHex(hex.toLatin1()), delayUs});
    }
    return probe;
}
