// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>

// The numeric test of the data-file readers: a text made only of digits
// passes, an empty text never does. Signs, blanks and decimal points fail.
inline bool isNumericText(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}
