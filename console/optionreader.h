// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

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

enum class HelpHint {
    ForMoreInformation, // "Try 'PROGRAM --help' for more information."
    Short,              // "Try 'PROGRAM --help'"
};

// The two lines of a usage error, with no line end after the second:
// "PROGRAM: PROBLEM" and the way to the help.
QString usageErrorText(const QString &program, const QString &problem,
                       HelpHint hint = HelpHint::ForMoreInformation);

// "PROGRAM 1.10.69", as --version prints it.
QString versionLine(const QString &program);
