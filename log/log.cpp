// SPDX-License-Identifier: GPL-3.0-or-later
#include "log.h"

void Log::LogMessage(const QString &message) {
    QString text;
    text.reserve(qMin(message.size() + 2 + m_gLogText.size(), kShownChars));
    text.append(QStringView(message).left(kShownChars))
        .append(QLatin1String("\r\n"))
        .append(m_gLogText);
    text.truncate(kShownChars);
    m_gLogText = std::move(text);
    emit messageLogged(message);
    emit shownTextChanged(m_gLogText);
}

void Log::ClearLog() {
    m_gLogText.clear();
    emit shownTextChanged(m_gLogText);
}
