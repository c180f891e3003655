// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordfields.h"

#include "type4frame.h"

#include <QList>

namespace {

RecordField field(const char *name, int width) {
    return {QString::fromLatin1(name), width};
}

std::array<RecordField, kIpndFieldCount> makeIpndFields() {
    // Widths are those the Max record fills. Positions 51 and 52 carry the
    // two flags that the AML record names Soft_Error_Flag and
    // Confirm_Address_Flag.
    return {
        field("Job_Reference_Number", 7),
        field("Date_Sent", 10),
        field("Time_Sent", 8),
        field("Service_Number", 20),
        field("Service_Status_Code", 1),
        field("Customer_Name_1", 40),
        field("Customer_Name_2", 40),
        field("Long_Name", 80),
        field("Customer_Title", 12),
        field("Building_Type", 6),
        field("Building_1st_Nbr", 5),
        field("Building_1st_Suffix", 1),
        field("Building_2nd_Nbr", 5),
        field("Building_2nd_Suffix", 1),
        field("Building_Floor_Type", 2),
        field("Building_Floor_Nbr", 4),
        field("Building_Floor_Nbr_Suffix", 1),
        field("Building_Property", 40),
        field("Building_Location", 30),
        field("Street_House_Nbr_1", 5),
        field("Street_House_Nbr_1_Suffix", 3),
        field("Street_House_Nbr_2", 5),
        field("Street_House_Nbr_2_Suffix", 1),
        field("ESO_Attempts", 1),
        field("ESO_Contact_Choice", 1),
        field("Lot_Suffix", 1),
        field("Street_Name_1", 25),
        field("Street_Type_1", 8),
        field("Street_Suffix_1", 6),
        field("Street_Name_2", 25),
        field("Street_Type_2", 4),
        field("Street_Suffix_2", 2),
        field("Locality", 40),
        field("District", 25),
        field("State", 3),
        field("Postcode", 4),
        field("List_Code", 2),
        field("Usage_Code", 1),
        field("Type_of_Service", 5),
        field("Customer_Contact_Name_1", 40),
        field("Customer_Contact_Name_2", 40),
        field("Customer_Contact_Nbr", 20),
        field("Carriage_Service_Provider_Code", 3),
        field("Data_Provider_Code", 6),
        field("Transaction_Date", 19),
        field("Service_Status_Date", 19),
        field("Alternate_Address_Flag", 1),
        field("MOLI_ABC", 3),
        field("SMSA", 17),
        field("State", 3),
        field("Soft_Error_Flag", 1),
        field("Confirm_Address_Flag", 1),
    };
}

// Coordinates are "DD MM SS.sssH" or "DDD MM SS.sssH": 14 characters at
// most, one more for a trailing blank that senders leave in.
constexpr int kCoordinateWidth = 15;
constexpr int kRadiusWidth = 6; // metres
constexpr int kAngleWidth = 3;  // degrees
constexpr int kPolygonPoints = 16;

std::array<RecordField, kMoliFieldCount> makeMoliFields() {
    std::array<RecordField, kMoliFieldCount> fields;
    int i = 0;
    fields[i++] = field("Geodetic_Datum", 5);
    fields[i++] = field("Shape", 1);
    fields[i++] = field("Centre_X", kCoordinateWidth);
    fields[i++] = field("Centre_Y", kCoordinateWidth);
    fields[i++] = field("Inner_Radius", kRadiusWidth);
    fields[i++] = field("Outer_Radius", kRadiusWidth);
    fields[i++] = field("Start_Angle", kAngleWidth);
    fields[i++] = field("Stop_Angle", kAngleWidth);
    for (int point = 1; point <= kPolygonPoints; ++point) {
        fields[i++] = {QStringLiteral("Polygon_X%1").arg(point), kCoordinateWidth};
        fields[i++] = {QStringLiteral("Polygon_Y%1").arg(point), kCoordinateWidth};
    }
    fields[i++] = field("Ellipse_X", kCoordinateWidth);
    fields[i++] = field("Ellipse_Y", kCoordinateWidth);
    fields[i++] = field("Offset_Angle", kAngleWidth);
    fields[i++] = field("SemiMajor_Length", kRadiusWidth);
    fields[i++] = field("SemiMinor_Length", kRadiusWidth);
    fields[i++] = field("ESO_Name", 40);
    return fields;
}

template<std::size_t N>
QString checkWidths(const QList<QByteArray> &values, qsizetype first,
                    const std::array<RecordField, N> &layout, const QString &prefix) {
    for (std::size_t i = 0; i < N; ++i) {
        const qsizetype width = values.at(first + qsizetype(i)).size();
        if (width > layout[i].width)
            return QStringLiteral("%1field %2 %3 is %4 wide, at most %5")
                .arg(prefix)
                .arg(i + 1)
                .arg(layout[i].name)
                .arg(width)
                .arg(layout[i].width);
    }
    return {};
}

QString checkShape(const QByteArray &shape) {
    if (shape.isEmpty())
        return QStringLiteral("MOLI shape is empty");
    if (QByteArrayView(kMoliShapeLetters).contains(shape.front()))
        return {};
    return QStringLiteral("MOLI shape \"%1\" is not one of O, C, A, P, E, N, X")
        .arg(QString::fromLatin1(shape));
}

Type4Check refuse(Type4Check check, const QString &reason) {
    check.ok = false;
    check.reason = reason;
    return check;
}

} // namespace

const std::array<RecordField, kIpndFieldCount> &ipndFields() {
    static const auto fields = makeIpndFields();
    return fields;
}

const std::array<RecordField, kMoliFieldCount> &moliFields() {
    static const auto fields = makeMoliFields();
    return fields;
}

Type4Check checkType4Body(const QByteArray &body) {
    Type4Check check;
    if (body.isEmpty())
        return refuse(check, QStringLiteral("empty body"));
    const char type = body.front();
    if (type != '3' && type != '4')
        return refuse(check, QStringLiteral("type digit \"%1\" is not 3 or 4")
                                 .arg(QString::fromLatin1(body.first(1))));
    if (body.size() < 2 || body.at(1) != '|')
        return refuse(check, QStringLiteral("record does not start with \"|\""));

    // values[0] is the empty text before the first "|".
    const QList<QByteArray> values = body.sliced(1).split('|');
    const int fields = int(values.size() - 1);
    check.ipndFields = qMin(fields, kIpndFieldCount);
    check.moliFields = qMax(fields - kIpndFieldCount, 0);
    if (type == '3' && fields != kIpndFieldCount)
        return refuse(
            check,
            QStringLiteral("type 3 with %1 fields, expected %2").arg(fields).arg(kIpndFieldCount));
    if (type == '4' && fields == kIpndFieldCount)
        return refuse(check, QStringLiteral("type 4 without MOLI record"));
    if (type == '4' && fields != kIpndFieldCount + kMoliFieldCount)
        return refuse(check, QStringLiteral("type 4 with %1 fields, expected %2 IPND and %3 MOLI")
                                 .arg(fields)
                                 .arg(kIpndFieldCount)
                                 .arg(kMoliFieldCount));

    QString reason = checkWidths(values, 1, ipndFields(), QString());
    if (reason.isEmpty() && type == '4') {
        reason = checkWidths(values, 1 + kIpndFieldCount, moliFields(), QStringLiteral("MOLI "));
        if (reason.isEmpty())
            reason = checkShape(values.at(kIpndFieldCount + kMoliShapeField));
    }
    if (!reason.isEmpty())
        return refuse(check, reason);
    check.ok = true;
    return check;
}

Type4Check checkType4Frame(const QByteArray &frame) {
    qsizetype consumed = 0;
    Type4Frame parsed;
    QString reason;
    switch (Type4Frame::parse(frame, consumed, parsed, &reason)) {
    case Type4Frame::ParseResult::NeedMore:
        if (parsed.length == 0)
            return refuse({}, QStringLiteral("frame is incomplete"));
        consumed = Type4Frame::kTerminalIdChars + type4LengthField(parsed.length).size();
        return refuse({}, QStringLiteral("length %1, but the body has %2 characters")
                              .arg(parsed.length)
                              .arg(frame.size() - consumed));
    case Type4Frame::ParseResult::Garbage:
        return refuse({}, reason);
    case Type4Frame::ParseResult::Frame:
        break;
    }
    if (consumed != frame.size())
        return refuse({}, QStringLiteral("length %1, but the body has %2 characters")
                              .arg(parsed.length)
                              .arg(frame.size() - consumed + parsed.length));
    return checkType4Body(parsed.body);
}
