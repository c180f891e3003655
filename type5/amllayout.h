// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <span>

// The Type 5 record: a CLI_Data document of five groups of leaf elements.
// The layout below is the one place that lists them; the canned document
// and the document checker are both built from it.

enum class AmlValueForm {
    Text,     // any text without markup
    Date,     // yyyy-mm-dd
    Time,     // hh:mm:ss, 24-hour
    DateTime, // yyyy-mm-dd hh:mm:ss, 24-hour
};

struct AmlElement {
    const char *name;
    const char *cannedValue; // "" for an empty element
    AmlValueForm form = AmlValueForm::Text;
    // In the canned document the next item (element or group end tag)
    // follows on the same line.
    bool sharesLineWithNext = false;
};

struct AmlGroup {
    const char *name;
    std::span<const AmlElement> elements;
};

inline constexpr char kAmlRootName[] = "CLI_Data";
inline constexpr char kAmlXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
inline constexpr char kAmlDocumentEnd[] = "</CLI_Data>";

// The five groups in document order.
std::span<const AmlGroup> amlLayout();

// The document sent when no XML data file is loaded: one item per line
// (six pairs share a line), lines joined by CR LF, none after </CLI_Data>.
// Its values are fixed; it is never restamped.
QByteArray cannedAmlDocument();

struct AmlCheck {
    bool ok = false;
    QString reason; // empty when ok
};

// Checks a received document against the layout: root, groups and leaves
// in order, none missing or extra, leaves holding plain text, and date,
// time and date-time values in their forms (an empty value is allowed).
AmlCheck checkAmlDocument(const QByteArray &document);

// Documents arrive back to back without a separator: takes every complete
// document (up to and including </CLI_Data>) off the front of the buffer
// and leaves the incomplete tail in it.
QList<QByteArray> takeCompleteDocuments(QByteArray &buffer);
