// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>
#include <optional>
#include <utility>

// The canned IPND customer records sent by the Type 4 test buttons, and the
// MOLI location records that can follow them. Each record is a run of
// fields, each introduced by "|", sent byte for byte as written.
enum class CannedRecord { Standard, NoAdd, Long, Min, Max };

constexpr std::array<CannedRecord, 5> kCannedRecords = {CannedRecord::Standard, CannedRecord::NoAdd,
                                                        CannedRecord::Long, CannedRecord::Min,
                                                        CannedRecord::Max};

QByteArray cannedIpndRecord(CannedRecord which);

// Indexes of gMOLIRecords: 0 to 5 follow the MOLI shape option buttons,
// 6 is the record with every field filled (Max button only), 7 stays empty.
constexpr int kMoliPoint = 0;
constexpr int kMoliCircular = 1;
constexpr int kMoliCircularArc = 2;
constexpr int kMoliPolygon = 3;
constexpr int kMoliEllipsoid = 4;
constexpr int kMoliNone = 5;
constexpr int kMoliFull = 6;
constexpr int kMoliRecordSlots = 8;

// What start-up puts in gMOLIRecords.
std::array<QByteArray, kMoliRecordSlots> cannedMoliRecords();

// The canned IPND record as its button sends it, with the MOLI record that follows it:
// moliShape unset when "MOLI Data" is not ticked, else the slot of the shape chosen (-1: none
// chosen, no MOLI record). Max takes the record with every field filled, whatever the shape.
QByteArray cannedRecordWithMoli(CannedRecord which, std::optional<int> moliShape,
                                const std::array<QByteArray, kMoliRecordSlots> &moliRecords);

// The words the command-line programs and test plans name the records and the MOLI
// shapes by: "standard" ... "max"; "point", "circular", "arc", "polygon", "ellipsoid",
// "none" (the slot of each shape).
constexpr std::array<std::pair<const char *, CannedRecord>, 5> kCannedRecordWords = {{
    {"standard", CannedRecord::Standard},
    {"noadd", CannedRecord::NoAdd},
    {"long", CannedRecord::Long},
    {"min", CannedRecord::Min},
    {"max", CannedRecord::Max},
}};
constexpr std::array<std::pair<const char *, int>, 6> kMoliShapeWords = {{
    {"point", kMoliPoint},
    {"circular", kMoliCircular},
    {"arc", kMoliCircularArc},
    {"polygon", kMoliPolygon},
    {"ellipsoid", kMoliEllipsoid},
    {"none", kMoliNone},
}};
