// SPDX-License-Identifier: GPL-3.0-or-later
#include "amllayout.h"

#include <QDate>
#include <QTime>
#include <QXmlStreamReader>

#include <array>
#include <optional>

namespace {

constexpr auto kText = AmlValueForm::Text;
constexpr auto kDate = AmlValueForm::Date;
constexpr auto kTime = AmlValueForm::Time;
constexpr auto kDateTime = AmlValueForm::DateTime;
constexpr bool kSharesLine = true;

constexpr AmlElement kEsapData[] = {
    {"Job_Reference_Number", "13100305"},
    {"Date_Sent", "2019-11-04", kDate},
    {"Time_Sent", "13:40:06", kTime},
    {"ESO_Name", "NSW-POL,TUGGERAH-NEWCASTLE"},
    {"ESAP_Terminal_Service_Number", "0015102131"},
};

constexpr AmlElement kCustomerServiceData[] = {
    {"Service_Number", "0418167181"},
    {"Service_Status_Code", "A"},
    {"Customer_Name_1", "Dorsk"},
    {"Customer_Name_2", "Pellimore"},
    {"Long_Name", "The News Reader"},
    {"Customer_Title", "Mr"},
    {"Building_Type", "RM"},
    {"Building_1st_Nbr", "33"},
    {"Building_1st_Suffix", "B"},
    {"Building_2nd_Nbr", "34"},
    {"Building_2nd_Suffix", "B"},
    {"Building_Floor_Type", "FL"},
    {"Building_Floor_Nbr", "385", kText, kSharesLine},
    {"Building_Floor_Nbr_Suffix", "C"},
    {"Building_Property", "Main Building"},
    {"Building_Location", ""},
    {"Street_House_Nbr_1", "101"},
    {"Street_House_Nbr_1_Suffix", "19"},
    {"Street_House_Nbr_2", "102"},
    {"Street_House_Nbr_2_Suffix", ""},
    {"ESO_Attempts", "0"},
    {"ESO_Contact_Choice", "1"},
    {"Lot_Suffix", "B"},
    {"Street_Name_1", "Jebidiah"},
    {"Street_Type_1", "St"},
    {"Street_Suffix_1", ""},
    {"Street_Name_2", ""},
    {"Street_Type_2", ""},
    {"Street_Suffix_2", ""},
    {"Locality", "MELLIS"},
    {"District", "Central Melbourne"},
    {"State", "VIC"},
    {"Postcode", "3393"},
    {"List_Code", "LE"},
    {"Usage_Code", "", kText, kSharesLine},
    {"Type_of_Service", "AAA"},
    {"Customer_Contact_Name_1", "The Springfield TV Station"},
    {"Customer_Contact_Name_2", ""},
    {"Customer_Contact_Nbr", "5988888888"},
    {"Carriage_Service_Provider_Code", ""},
    {"Data_Provider_Code", "TELSTR"},
    {"Transaction_Date", "2010-07-17 17:53:29", kDateTime},
    {"Service_Status_Date", "2010-07-09 10:43:23", kDateTime},
    {"Alternate_Address_Flag", "T"},
    {"Soft_Error_Flag", "F"},
    {"Confirm_Address_Flag", "F"},
    {"Class_of_Service", "M", kText, kSharesLine},
};
static_assert(std::size(kCustomerServiceData) == 47);

constexpr AmlElement kSmsaData[] = {
    {"MOLI_ABC", "034"},
    {"SMSA", "MELBOURNE"},
    {"State", "VIC"},
};

// The mobile location in MOLI form: datum, shape, centre, radii, angles,
// 16 polygon vertices, ellipse values.
constexpr AmlElement kPushMoliData[] = {
    {"Geodetic_Datum", "WGS84"},
    {"Shape", "O"},
    {"Centre_X", "33 49 07.250S"},
    {"Centre_Y", "151 00 26.325E"},
    {"Inner_Radius", ""},
    {"Outer_Radius", ""},
    {"Start_Angle", ""},
    {"Stop_Angle", "", kText, kSharesLine},
    {"Polygon_X1", ""},
    {"Polygon_Y1", ""},
    {"Polygon_X2", ""},
    {"Polygon_Y2", ""},
    {"Polygon_X3", ""},
    {"Polygon_Y3", ""},
    {"Polygon_X4", ""},
    {"Polygon_Y4", ""},
    {"Polygon_X5", ""},
    {"Polygon_Y5", ""},
    {"Polygon_X6", ""},
    {"Polygon_Y6", ""},
    {"Polygon_X7", ""},
    {"Polygon_Y7", ""},
    {"Polygon_X8", ""},
    {"Polygon_Y8", ""},
    {"Polygon_X9", ""},
    {"Polygon_Y9", ""},
    {"Polygon_X10", ""},
    {"Polygon_Y10", ""},
    {"Polygon_X11", ""},
    {"Polygon_Y11", ""},
    {"Polygon_X12", ""},
    {"Polygon_Y12", ""},
    {"Polygon_X13", "", kText, kSharesLine},
    {"Polygon_Y13", ""},
    {"Polygon_X14", ""},
    {"Polygon_Y14", ""},
    {"Polygon_X15", ""},
    {"Polygon_Y15", ""},
    {"Polygon_X16", ""},
    {"Polygon_Y16", ""},
    {"Offset_Angle", ""},
    {"SemiMajor_Length", ""},
    {"SemiMinor_Length", ""},
};
static_assert(std::size(kPushMoliData) == 43);

constexpr AmlElement kAmlData[] = {
    {"AML_Header", "1"},
    {"AML_Latitude", "+55.74317"},
    {"AML_Longitude", "-4.26881"},
    {"AML_Radius", "50"},
    {"AML_Time_of_Positioning_TOP", "2018-07-17 17:53:29", kDateTime},
    {"AML_Level_of_Confidence_LOC", "95"},
    {"AML_Positioning_Method", "G"},
    {"International_Mobile_Subscriber_Identity_IMSI", "234302543446355"},
    {"International_Mobile_Equipment_Identity_IMEI", "3567080417467342"},
    {"Mobile_Country_Code_MCC", "505"},
    {"Mobile_Network_Code_MNC", "01"},
};

constexpr std::array<AmlGroup, 5> kLayout = {{
    {"ESAP_Data", kEsapData},
    {"Customer_Service_Data", kCustomerServiceData},
    {"SMSA_Data", kSmsaData},
    {"Push_MoLI_Data", kPushMoliData},
    {"AML_Data", kAmlData},
}};

QByteArray startTag(const char *name) {
    return '<' + QByteArray(name) + '>';
}

QByteArray endTag(const char *name) {
    return "</" + QByteArray(name) + '>';
}

QByteArray buildCannedDocument() {
    QByteArray document = kAmlXmlDeclaration + startTag(kAmlRootName);
    const auto put = [&document](const QByteArray &item, bool sameLine) {
        if (!sameLine)
            document += "\r\n";
        document += item;
    };
    for (const AmlGroup &group : kLayout) {
        put(startTag(group.name), false);
        bool sameLine = false;
        for (const AmlElement &element : group.elements) {
            put(startTag(element.name) + element.cannedValue + endTag(element.name), sameLine);
            sameLine = element.sharesLineWithNext;
        }
        put(endTag(group.name), sameLine);
    }
    put(endTag(kAmlRootName), false);
    return document;
}

// --- value forms ---

// Matches "9" against a digit and any other shape character literally.
bool hasShape(QStringView value, QLatin1StringView shape) {
    if (value.size() != shape.size())
        return false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const bool digitWanted = shape.at(i) == QLatin1Char('9');
        const QChar c = value.at(i);
        if (digitWanted ? !(c >= QLatin1Char('0') && c <= QLatin1Char('9')) : c != shape.at(i))
            return false;
    }
    return true;
}

int number(QStringView digits) {
    return digits.toInt();
}

bool isDate(QStringView value) {
    return hasShape(value, QLatin1StringView("9999-99-99")) &&
           QDate::isValid(number(value.sliced(0, 4)), number(value.sliced(5, 2)),
                          number(value.sliced(8, 2)));
}

bool isTime(QStringView value) {
    return hasShape(value, QLatin1StringView("99:99:99")) &&
           QTime::isValid(number(value.sliced(0, 2)), number(value.sliced(3, 2)),
                          number(value.sliced(6, 2)));
}

bool isDateTime(QStringView value) {
    return value.size() == 19 && value.at(10) == QLatin1Char(' ') && isDate(value.first(10)) &&
           isTime(value.sliced(11));
}

std::optional<QString> formError(const AmlElement &element, const QString &value) {
    if (value.isEmpty())
        return std::nullopt;
    QString expected;
    switch (element.form) {
    case AmlValueForm::Text:
        return std::nullopt;
    case AmlValueForm::Date:
        if (isDate(value))
            return std::nullopt;
        expected = QStringLiteral("a date yyyy-mm-dd");
        break;
    case AmlValueForm::Time:
        if (isTime(value))
            return std::nullopt;
        expected = QStringLiteral("a time hh:mm:ss");
        break;
    case AmlValueForm::DateTime:
        if (isDateTime(value))
            return std::nullopt;
        expected = QStringLiteral("a date-time yyyy-mm-dd hh:mm:ss");
        break;
    }
    return QStringLiteral("%1 '%2' is not %3")
        .arg(QLatin1StringView(element.name), value, expected);
}

// --- the checker ---

class AmlChecker {
public:
    explicit AmlChecker(const QByteArray &document)
        : m_xml(document) {}

    AmlCheck run() {
        const std::optional<QString> error = checkDocument();
        return error ? AmlCheck{false, *error} : AmlCheck{true, QString()};
    }

private:
    enum class Step { Start, End, Failed };

    std::optional<QString> checkDocument() {
        if (const std::optional<QString> error = expectStart())
            return error;
        if (m_xml.name() != QLatin1StringView(kAmlRootName))
            return QStringLiteral("root element is %1, expected %2")
                .arg(m_xml.name(), QLatin1StringView(kAmlRootName));
        if (const std::optional<QString> error = checkGroups())
            return error;
        return checkDocumentEnd();
    }

    std::optional<QString> expectStart() {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                return std::nullopt;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace())
                    return QStringLiteral("text before the root element");
                break;
            case QXmlStreamReader::Invalid:
                return broken();
            default:
                break;
            }
        }
    }

    std::optional<QString> checkDocumentEnd() {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::EndDocument:
                return std::nullopt;
            case QXmlStreamReader::Invalid:
                return broken();
            default:
                break;
            }
        }
    }

    // Next child of the current element: skips whitespace, comments and
    // processing instructions; any other text is refused.
    Step nextChild(const char *parent, QString &error) {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                if (!m_xml.attributes().isEmpty()) {
                    error = QStringLiteral("%1 has attributes").arg(m_xml.name());
                    return Step::Failed;
                }
                return Step::Start;
            case QXmlStreamReader::EndElement:
                return Step::End;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace()) {
                    error = QStringLiteral("text '%1' in %2 outside any element")
                                .arg(m_xml.text().trimmed(), QLatin1StringView(parent));
                    return Step::Failed;
                }
                break;
            case QXmlStreamReader::Invalid:
                error = broken();
                return Step::Failed;
            default:
                break;
            }
        }
    }

    std::optional<QString> checkGroups() {
        QString error;
        int position = 0;
        for (const AmlGroup &group : kLayout) {
            ++position;
            switch (nextChild(kAmlRootName, error)) {
            case Step::Failed:
                return error;
            case Step::End:
                return QStringLiteral("%1 ends after %2 groups, expected %3")
                    .arg(QLatin1StringView(kAmlRootName))
                    .arg(position - 1)
                    .arg(QLatin1StringView(group.name));
            case Step::Start:
                break;
            }
            if (m_xml.name() != QLatin1StringView(group.name))
                return mismatch(QStringLiteral("group"), position, kAmlRootName, group.name);
            if (const std::optional<QString> groupError = checkLeaves(group))
                return groupError;
        }
        switch (nextChild(kAmlRootName, error)) {
        case Step::Failed:
            return error;
        case Step::Start:
            return mismatch(QStringLiteral("group"), position + 1, kAmlRootName, nullptr);
        case Step::End:
            return std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<QString> checkLeaves(const AmlGroup &group) {
        QString error;
        int position = 0;
        for (const AmlElement &element : group.elements) {
            ++position;
            switch (nextChild(group.name, error)) {
            case Step::Failed:
                return error;
            case Step::End:
                return QStringLiteral("%1 ends after %2 elements, expected %3")
                    .arg(QLatin1StringView(group.name))
                    .arg(position - 1)
                    .arg(QLatin1StringView(element.name));
            case Step::Start:
                break;
            }
            if (m_xml.name() != QLatin1StringView(element.name))
                return mismatch(QStringLiteral("element"), position, group.name, element.name);
            if (const std::optional<QString> leafError = checkLeafValue(element))
                return leafError;
        }
        switch (nextChild(group.name, error)) {
        case Step::Failed:
            return error;
        case Step::Start:
            return mismatch(QStringLiteral("element"), position + 1, group.name, nullptr);
        case Step::End:
            return std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<QString> checkLeafValue(const AmlElement &element) {
        const QString value = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (m_xml.error() == QXmlStreamReader::UnexpectedElementError)
            return QStringLiteral("%1 holds markup, expected plain text")
                .arg(QLatin1StringView(element.name));
        if (m_xml.hasError())
            return broken();
        return formError(element, value);
    }

    // expected == nullptr: the parent should have ended here.
    QString mismatch(const QString &kind, int position, const char *parent, const char *expected) {
        const QString wanted = expected
                                   ? QString::fromLatin1(expected)
                                   : QStringLiteral("the end of %1").arg(QLatin1StringView(parent));
        return QStringLiteral("%1 %2 of %3 is %4, expected %5")
            .arg(kind)
            .arg(position)
            .arg(QLatin1StringView(parent), m_xml.name(), wanted);
    }

    // The reader counts columns from 0; people count from 1.
    QString broken() const {
        return QStringLiteral("broken XML at line %1, column %2: %3")
            .arg(m_xml.lineNumber())
            .arg(m_xml.columnNumber() + 1)
            .arg(m_xml.errorString());
    }

    QXmlStreamReader m_xml;
};

} // namespace

std::span<const AmlGroup> amlLayout() {
    return kLayout;
}

QByteArray cannedAmlDocument() {
    static const QByteArray document = buildCannedDocument();
    return document;
}

AmlCheck checkAmlDocument(const QByteArray &document) {
    return AmlChecker(document).run();
}

QList<QByteArray> takeCompleteDocuments(QByteArray &buffer) {
    QList<QByteArray> documents;
    const QByteArrayView endMark(kAmlDocumentEnd);
    qsizetype start = 0;
    for (;;) {
        const qsizetype found = buffer.indexOf(endMark, start);
        if (found < 0)
            break;
        const qsizetype end = found + endMark.size();
        documents.append(buffer.sliced(start, end - start));
        start = end;
    }
    buffer.remove(0, start);
    return documents;
}
