// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

class QIODevice;

enum class HelpHint {
    ForMoreInformation, // "Try 'PROGRAM --help' for more information."
    Short,              // "Try 'PROGRAM --help'"
};

// Reads a command-line program's options: Qt's parser with --help and --version,
// a help that names the program, and one way to take an option's value and to
// note what is wrong (the first problem stands). Each program checks the values
// with the rules of commandwords.h and words its own complaints.
class OptionReader {
public:
    enum class Request { Options, Help, Version, UsageError };

    // program: as the help and the usage error name it ("talvgen-cli load");
    // arguments: what follows the options in the help's first line ("FILE").
    OptionReader(const QString &program, const QString &description, const QString &arguments = {});
    OptionReader(const OptionReader &) = delete;
    OptionReader &operator=(const OptionReader &) = delete;

    // An option that takes a value when valueName is given.
    void addOption(const char *name, const char *description, const char *valueName = nullptr);
    void addOption(const QCommandLineOption &option);

    // arguments: the program first, as QCoreApplication::arguments() gives them.
    // --help wins over --version; a command line Qt cannot read is a UsageError
    // with Qt's own wording as the problem.
    Request parse(const QStringList &arguments);

    // For a program's command word ("talvgen-cli plan ..."): reads what follows the
    // word. --help, --version and a usage error are answered here, on out or err, with
    // their exit status (0 or 2); unset when the options are to be acted on.
    std::optional<int> parseCommand(const QStringList &arguments, QIODevice &out, QIODevice &err);

    // "Usage: PROGRAM [options]", then the description and the options.
    QString helpText() const;

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    bool isSet(const char *name) const { return isSet(QString::fromLatin1(name)); }
    // The last value given, else the option's default.
    QString value(const QString &name) const { return m_parser.value(name); }
    QString value(const char *name) const { return value(QString::fromLatin1(name)); }
    QStringList values(const QString &name) const { return m_parser.values(name); }
    QStringList values(const char *name) const { return values(QString::fromLatin1(name)); }
    // The value of an option given at most once: a second notes
    // "--NAME given more than once".
    QString once(const char *name);
    // True when nothing but options was given; else notes "unexpected argument "X"".
    bool noArguments();
    QStringList arguments() const { return m_parser.positionalArguments(); }

    void fail(const QString &problem);
    bool failed() const { return !m_problem.isEmpty(); }
    const QString &problem() const { return m_problem; }

private:
    QString m_program;
    QString m_arguments;
    QCommandLineParser m_parser;
    QString m_problem;
};

// The two lines of a usage error, with no line end after the second:
// "PROGRAM: PROBLEM" and the way to the help.
QString usageErrorText(const QString &program, const QString &problem,
                       HelpHint hint = HelpHint::ForMoreInformation);

// "PROGRAM 1.10.69", as --version prints it.
QString versionLine(const QString &program);

// The arguments as a command word's parser wants them: the program, then what
// follows the word ("talvgen-cli load --rate 5" gives "talvgen-cli --rate 5").
QStringList withoutCommandWord(const QStringList &arguments);

// Text in the console's encoding, flushed at once when the device is a file, so
// that lines come out in order with the other stream's.
void writeText(QIODevice &device, const QString &text);

// The usage error's two lines and a line end, on err; returns its exit status, 2.
int writeUsageError(QIODevice &err, const QString &program, const QString &problem,
                    HelpHint hint = HelpHint::ForMoreInformation);
