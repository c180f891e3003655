// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The layouts of the two records a Type 4 body carries, one definition for
// every sender and checker: the IPND customer record (52 fields) and the
// MOLI location record (46 fields). Each field is introduced by "|"; width
// is the most characters a receiver takes in it.
struct RecordField {
    QString name;
    int width = 0;
};

constexpr int kIpndFieldCount = 52;
constexpr int kMoliFieldCount = 46;
constexpr int kMoliShapeField = 2; // position, counted from 1

const std::array<RecordField, kIpndFieldCount> &ipndFields();
const std::array<RecordField, kMoliFieldCount> &moliFields();

// The letters a MOLI Shape field may hold.
constexpr char kMoliShapeLetters[] = "OCAPENX";

struct Type4Check {
    bool ok = false;
    QString reason; // empty when ok
    int ipndFields = 0;
    int moliFields = 0;
};

// Checks a body (type digit, then the record): type digit "3" or "4", the
// record opens with "|", 52 IPND fields for type 3, 52 IPND and 46 MOLI
// fields for type 4, no field wider than its layout allows, a known MOLI
// shape letter.
Type4Check checkType4Body(const QByteArray &body);

// Checks one whole frame: it must parse, hold exactly the body its length
// announces and nothing after it, and the body must pass checkType4Body.
Type4Check checkType4Frame(const QByteArray &frame);
