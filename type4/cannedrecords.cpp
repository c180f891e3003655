// SPDX-License-Identifier: GPL-3.0-or-later
#include "cannedrecords.h"

namespace {

// IPND customer records, 52 fields each. The Long record pads its text
// fields with "Q" and ends each with "W"; the Max record fills every field
// to its full width.
// 306 characters.
constexpr char kStandard[] =
    "|9990302|2007-11-14|13:38:24|0396326041|A|Dorsk|Pellimore|The News Reader|Mr|RM|33|B"
    "|34|B|FL|385|C|Main Building||101||102||0|1|B|Jebidiah|St|||||MELLIS"
    "|Central Melbourne|VIC|3393|LE||AAA|The Springfield TV Station||5988888888||TELSTR"
    "|1999-12-31 11:11:00|1999-09-09 09:09:00|T|993|FIXED NETWORK VIC|VIC|F|F";

// 158 characters.
constexpr char kNoAdd[] =
    "|9990306|2007-11-14|13:41:06|0399638179||||*Address Not Available*||||||||||||||||0"
    "|1||||||||*Address Not Available*|||||||||||||||993|FIXED NETWORK VIC|VIC||";

// 687 characters.
constexpr char kLong[] =
    "|9990304|2007-11-14|13:39:44|0396326036|A|TAMSVENQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW"
    "|OLKQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW"
    "|VANDELISISMYMIDDLENAMEQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW"
    "|MRQQQQQQQQQW|ATQQQW|10QQW|Q|11QQW|Q|QW|QQQW|Q"
    "|THE_HOUSE_QQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW|22QQW|QWW"
    "|12QQW|W|0|1|W|ELGINQQQQQQQQQQQQQQQQQQQW|RDQQQQQW|QQQQQW|MACQUARIEQQQQQQQQQQQQQQQW"
    "|STQW|QW|MELWOODQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|HOPETOWNQQQQQQQQQQQQQQQQW|VIC|3875"
    "|TT|T||TAMQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW"
    "|VANQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|0396349838QQQQQQQQQW||TELSTR"
    "|1998-04-03 12:34:56|1998-05-24 12:34:56|T|993|FIXED NETWORK VIC|VIC|T|T";

// 113 characters.
constexpr char kMin[] =
    "|9990303|2007-11-14|13:39:23|0419011231||||||||||||||||||||0|1||||||||||||||MOBIL|||"
    "||MNET||||034|MELBOURNE|VIC||";

// 705 characters.
constexpr char kMax[] =
    "|9990305|2007-11-14|13:40:06|03963245850000000009|X"
    "|CUST_NAME_1CUST_NAME_1CUST_NAME_1CUST_NZ|CUST_NAME_2CUST_NAME_2CUST_NAME_2CUST_NZ"
    "|LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAMEZ"
    "|CUST_TITLE_Z|TYPE_Z|50009|X|50009|X|FZ|0129|X"
    "|BLDG_PROPERTY_BLDG_PROPERTY_BLDG_PROPERZ|BLDG_LOCTNABCDEFGHIJKLMNOPQRSZ|50009|019"
    "|01239|X|0|1|X|ST_NAME_1ABCDEFGHIJKLMNOZ|ST_TYPEZ|ST_SFZ|ST_NAME_ST_NAME_2STREET_Z"
    "|ST_Z|AZ|LOCALITY_LOCALITY_LOCALITY_LOCALITY_LOCZ|DISTRICT_DISTRICT_DISTRIZ|ABZ|0129"
    "|LZ|X|STYPZ|CUST_CONTACT_NAME_1CUST_CONTACT_NAME_1CZ"
    "|CUST_CONTACT_NAME_2CUST_CONTACT_NAME_2CZ|01234567800000000009|309|TELSTR"
    "|1995-12-31 11:11:00|1995-12-09 11:11:00|X|993|FIXED NETWORK VIC|VIC|X|F";

// MOLI location records, 46 fields each, in gMOLIRecords order.
// 105 characters.
constexpr char kMoliPointRecord[] =
    "|WGS84|O|33 49 07.250S|151 00 26.325E|||||||||||||||||||||||||||||||||||||||||"
    "|NSW-POL,TUGGERAH-NEWCASTLE";

// 109 characters.
constexpr char kMoliCircularRecord[] =
    "|WGS84|C|33 49 07.250S|151 00 26.325E||2000|||||||||||||||||||||||||||||||||||||||"
    "|NSW-POL,TUGGERAH-NEWCASTLE";

// 117 characters.
constexpr char kMoliCircularArcRecord[] =
    "|WGS84|A|33 49 07.250S|151 00 26.325E|850|2000|60|150|||||||||||||||||||||||||||||||"
    "|||||||NSW-POL,TUGGERAH-NEWCASTLE";

// 240 characters.
constexpr char kMoliPolygonRecord[] =
    "|WGS84|P|||||||30 45 28.408S|152 02 51.378E|30 36 54.173S|152 13 33.845E"
    "|30 36 54.173S|152 17 00.132E|30 36 00.148S|152 18 14.483E|30 43 12.947S"
    "|152 19 36.498E|30 45 28.408S|152 02 51.378E|||||||||||||||||||||||||"
    "|NSW-POL,TUGGERAH-NEWCASTLE";

// 114 characters.
constexpr char kMoliEllipsoidRecord[] =
    "|WGS84|E|||||| |||||||||||||||||||||||||||||||||31 56 55.025S|115 50 23.669E|26|245"
    "|299|NSW-POL,TUGGERAH-NEWCASTLE";

// 73 characters.
constexpr char kMoliNoneRecord[] =
    "||N||||||||||||||||||||||||||||||||||||||||||||NSW-POL,TUGGERAH-NEWCASTLE";

// 585 characters.
constexpr char kMoliFullRecord[] =
    "|WGS84|X|33 49 07.250S|151 00 26.325E|850|2000|60|150|30 45 28.408S|152 02 51.378E"
    "|30 36 54.173S|152 13 33.845E|30 36 54.173S|152 17 00.132E|30 36 00.148S"
    "|152 18 14.483E|30 43 12.947S|152 19 36.498E|30 45 28.408S|152 02 51.378E"
    "|30 45 28.408S|152 02 51.378E|30 45 28.408S|152 02 51.378E |30 45 28.408S"
    "|152 02 51.378E|30 45 28.408S|152 02 51.378E|30 45 28.408S|152 02 51.378E"
    "|30 45 28.408S|152 02 51.378E|30 45 28.408S|152 02 51.378E|30 45 28.408S"
    "|152 02 51.378E|30 45 28.408S|152 02 51.378E|30 45 28.408S|152 02 51.378E"
    "|31 56 55.025S|115 50 23.669E|26|245|299|NSW-POL,TUGGERAH-NEWCASTLE";

} // namespace

QByteArray cannedIpndRecord(CannedRecord which) {
    switch (which) {
    case CannedRecord::Standard:
        return QByteArray(kStandard);
    case CannedRecord::NoAdd:
        return QByteArray(kNoAdd);
    case CannedRecord::Long:
        return QByteArray(kLong);
    case CannedRecord::Min:
        return QByteArray(kMin);
    case CannedRecord::Max:
        return QByteArray(kMax);
    }
    return {};
}

std::array<QByteArray, kMoliRecordSlots> cannedMoliRecords() {
    return {QByteArray(kMoliPointRecord),       QByteArray(kMoliCircularRecord),
            QByteArray(kMoliCircularArcRecord), QByteArray(kMoliPolygonRecord),
            QByteArray(kMoliEllipsoidRecord),   QByteArray(kMoliNoneRecord),
            QByteArray(kMoliFullRecord),        QByteArray()};
}

QByteArray cannedRecordWithMoli(CannedRecord which, std::optional<int> moliShape,
                                const std::array<QByteArray, kMoliRecordSlots> &moliRecords) {
    QByteArray record = cannedIpndRecord(which);
    if (!moliShape)
        return record;
    const int slot = which == CannedRecord::Max ? kMoliFull : *moliShape;
    if (slot >= 0 && slot < kMoliRecordSlots)
        record += moliRecords[size_t(slot)];
    return record;
}
