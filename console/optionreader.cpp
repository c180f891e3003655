// SPDX-License-Identifier: GPL-3.0-or-later
#include "optionreader.h"

#include <QFile>

OptionReader::OptionReader(const QString &program, const QString &description,
                           const QString &arguments)
    : m_program(program)
    , m_arguments(arguments) {
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
    m_parser.addVersionOption();
}

void OptionReader::addOption(const char *name, const char *description, const char *valueName) {
    addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                                 valueName ? QString::fromLatin1(valueName) : QString()));
}

void OptionReader::addOption(const QCommandLineOption &option) {
    m_parser.addOption(option);
}

OptionReader::Request OptionReader::parse(const QStringList &arguments) {
    if (!m_parser.parse(arguments)) {
        fail(m_parser.errorText());
        return Request::UsageError;
    }
    if (isSet("help"))
        return Request::Help;
    if (isSet("version"))
        return Request::Version;
    return Request::Options;
}

std::optional<int> OptionReader::parseCommand(const QStringList &arguments, QIODevice &out,
                                              QIODevice &err) {
    switch (parse(withoutCommandWord(arguments))) {
    case Request::UsageError:
        return writeUsageError(err, m_program, problem());
    case Request::Help:
        writeText(out, helpText());
        return 0;
    case Request::Version:
        // The version is the whole program's, not its command word's.
        writeText(out, versionLine(m_program.section(QLatin1Char(' '), 0, 0)) + QLatin1Char('\n'));
        return 0;
    case Request::Options:
        break;
    }
    return std::nullopt;
}

QString OptionReader::helpText() const {
    // Qt's first line names whatever binary parsed; name the program instead.
    const QString text = m_parser.helpText();
    const QString tail = m_arguments.isEmpty() ? QString() : QLatin1Char(' ') + m_arguments;
    return QStringLiteral("Usage: %1 [options]%2").arg(m_program, tail) +
           text.mid(text.indexOf(QLatin1Char('\n')));
}

QString OptionReader::once(const char *name) {
    const QStringList given = values(name);
    if (given.size() > 1)
        fail(QStringLiteral("--%1 given more than once").arg(QLatin1String(name)));
    return given.value(0);
}

bool OptionReader::noArguments() {
    const QStringList arguments = m_parser.positionalArguments();
    if (arguments.isEmpty())
        return true;
    fail(QStringLiteral("unexpected argument \"%1\"").arg(arguments.constFirst()));
    return false;
}

void OptionReader::fail(const QString &problem) {
    if (m_problem.isEmpty())
        m_problem = problem;
}

QString usageErrorText(const QString &program, const QString &problem, HelpHint hint) {
    return QStringLiteral("%1: %2\nTry '%1 --help'%3")
        .arg(program, problem,
             hint == HelpHint::ForMoreInformation ? QStringLiteral(" for more information.")
                                                  : QString());
}

QString versionLine(const QString &program) {
    return QStringLiteral("%1 %2.%3.%4")
        .arg(program)
        .arg(TALVGEN_VERSION_MAJOR)
        .arg(TALVGEN_VERSION_MINOR)
        .arg(TALVGEN_VERSION_PATCH);
}

QStringList withoutCommandWord(const QStringList &arguments) {
    QStringList rest = arguments;
    if (rest.size() > 1)
        rest.removeAt(1);
    return rest;
}

void writeText(QIODevice &device, const QString &text) {
    device.write(text.toLocal8Bit());
    if (auto *file = qobject_cast<QFile *>(&device))
        file->flush();
}

int writeUsageError(QIODevice &err, const QString &program, const QString &problem, HelpHint hint) {
    writeText(err, usageErrorText(program, problem, hint) + QLatin1Char('\n'));
    return 2;
}
