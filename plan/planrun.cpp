// SPDX-License-Identifier: GPL-3.0-or-later
#include "planrun.h"

#include "csvwriter.h"
#include "hostlookup.h"
#include "junitreport.h"
#include "optionreader.h"
#include "plandocument.h"
#include "planreport.h"
#include "planrunner.h"
#include "reportfiles.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <cstring>

namespace {

const char kProgram[] = "talvgen-cli plan";
const char kDescription[] =
    "Runs a test plan: the cases of a YAML file, each a list of steps that send to the\n"
    "receiver and say what must come back. Each step is a line, then a line per case and\n"
    "the plan's summary. Link 1 opens a connection per frame and closes it once the step\n"
    "is judged; link 2 keeps one connection for the plan, answers the receiver's\n"
    "heartbeats and opens again after the receiver closes it. Traffic goes only to the\n"
    "plan's targets. Exit status: 0 every case passed and the thresholds held, 1 otherwise\n"
    "(also when nothing was sent), 2 an error in the plan or the command line, 130/143\n"
    "stopped by SIGINT/SIGTERM before anything failed. The format: docs/plans.md.";

struct PlanCommand {
    QString file;
    QList<std::pair<QString, QString>> settings;
    QString junitFile;
    QString csvFile;
    bool dryRun = false;
    bool quiet = false;
};

int usageError(QIODevice &err, const QString &problem) {
    return writeUsageError(err, QString::fromLatin1(kProgram), problem);
}

void addOptions(OptionReader &reader) {
    reader.addOption("set",
                     "Sets a variable of the plan, or a target: type4=HOST:PORT, "
                     "type5=HOST:PORT. May be given more than once.",
                     "NAME=VALUE");
    reader.addOption("junit", "Writes a JUnit XML report: a test case per case.", "FILE");
    reader.addOption("csv", "Writes a CSV row per step.", "FILE");
    reader.addOption("dry-run", "Prints each step with the bytes it would send; sends nothing.");
    reader.addOption("quiet", "Leaves out the line per step.");
}

// The command line after "plan"; unset with the problem noted in the reader.
std::optional<PlanCommand> readCommand(OptionReader &reader) {
    PlanCommand command;
    command.junitFile = reader.once("junit");
    command.csvFile = reader.once("csv");
    command.dryRun = reader.isSet("dry-run");
    command.quiet = reader.isSet("quiet");
    for (const QString &setting : reader.values("set")) {
        const qsizetype equals = setting.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            reader.fail(QStringLiteral("--set wants NAME=VALUE, not \"%1\"").arg(setting));
            break;
        }
        command.settings << std::pair{setting.left(equals), setting.mid(equals + 1)};
    }
    const QStringList files = reader.arguments();
    if (files.isEmpty())
        reader.fail(QStringLiteral("no plan file given"));
    else if (files.size() > 1)
        reader.fail(QStringLiteral("unexpected argument \"%1\"").arg(files.at(1)));
    else
        command.file = files.constFirst();
    if (reader.failed())
        return std::nullopt;
    return command;
}

// The plan's targets looked up once; unset with the problem.
std::optional<PlanRunner::Targets> lookUpTargets(const Plan &plan, QString *problem) {
    PlanRunner::Targets targets;
    if (plan.type4) {
        targets.type4 = lookUpHost(plan.type4->host, problem);
        targets.type4Port = plan.type4->port;
        if (!targets.type4)
            return std::nullopt;
    }
    if (plan.type5) {
        targets.type5 = lookUpHost(plan.type5->host, problem);
        targets.type5Port = plan.type5->port;
        if (!targets.type5)
            return std::nullopt;
    }
    return targets;
}

void collectLinks(const QList<Step> &steps, bool *type4, bool *type5) {
    for (const Step &step : steps) {
        if (step.kind == Step::Kind::Repeat)
            collectLinks(step.repeat.steps, type4, type5);
        else if (step.kind == Step::Kind::Expect)
            *type5 = true;
        else if (step.kind == Step::Kind::Send)
            (step.send.kind == SendSpec::Kind::CannedType4 ||
                     step.send.kind == SendSpec::Kind::InlineType4 ||
                     step.send.kind == SendSpec::Kind::FileType4 ||
                     (step.send.kind == SendSpec::Kind::Raw && step.send.link == PlanLink::Type4)
                 ? *type4
                 : *type5) = true;
    }
}

// A link the plan sends on with no target: the plan's error, found before anything is sent.
QString missingTarget(const Plan &plan) {
    bool type4 = false;
    bool type5 = false;
    for (const PlanCase &planCase : plan.cases)
        collectLinks(planCase.steps, &type4, &type5);
    for (const auto &[used, target, name] : {std::tuple{type4, plan.type4.has_value(), "type4"},
                                             std::tuple{type5, plan.type5.has_value(), "type5"}}) {
        if (used && !target)
            return QStringLiteral("%1: steps use %2, but no %2 target is given (targets: %2: "
                                  "HOST:PORT in the plan, or --set %2=HOST:PORT)")
                .arg(plan.file, QLatin1String(name));
    }
    return {};
}

} // namespace

bool isPlanCommand(int argc, char *argv[]) {
    return argc > 1 && std::strcmp(argv[1], "plan") == 0;
}

int runPlan(const QStringList &arguments, QIODevice &out, QIODevice &err) {
    OptionReader reader(QString::fromLatin1(kProgram), QString::fromLatin1(kDescription),
                        QStringLiteral("FILE"));
    addOptions(reader);
    if (const std::optional<int> answered = reader.parseCommand(arguments, out, err))
        return *answered;
    const std::optional<PlanCommand> command = readCommand(reader);
    if (!command)
        return usageError(err, reader.problem());

    QString problem;
    const std::optional<Plan> plan = readPlan(command->file, command->settings, &problem);
    if (!plan) {
        writeText(err, problem + QLatin1Char('\n'));
        return 2;
    }
    problem = command->dryRun ? QString() : missingTarget(*plan);
    if (!problem.isEmpty()) {
        writeText(err, problem + QLatin1Char('\n'));
        return 2;
    }
    const std::optional<PlanRunner::Targets> targets = lookUpTargets(*plan, &problem);
    if (!targets)
        return usageError(err, problem);
    CsvWriter csv;
    if (!createReportFiles(csv, command->csvFile, planCsvHeader(), command->junitFile, &problem))
        return usageError(err, problem);

    PlanEnd end;
    end.dryRun = command->dryRun;
    PlanRunner runner(*plan, *targets, command->dryRun);
    QObject::connect(&runner, &PlanRunner::stepDone, [&](const StepResult &result) {
        if (!command->quiet)
            writeText(out, stepLine(result, command->dryRun) + QLatin1Char('\n'));
        if (csv.isOpen())
            csv.writeRow(planCsvRow(result, plan->cases.at(result.caseNumber - 1).name));
    });
    QObject::connect(&runner, &PlanRunner::caseDone, [&](const CaseResult &result) {
        writeText(out, caseLine(result) + QLatin1Char('\n'));
    });
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, [&](int number) {
        if (end.stoppedBySignal)
            return;
        end.stoppedBySignal = number;
        runner.stop(signalName(number));
    });
    QEventLoop loop;
    QObject::connect(&runner, &PlanRunner::finished, &loop, &QEventLoop::quit);
    runner.start();
    loop.exec();
    writeText(out, planSummary(*plan, runner, end));
    if (!command->junitFile.isEmpty() &&
        !writeJunitFile(command->junitFile, planJunitReport(*plan, runner, end), &problem)) {
        writeText(err, QStringLiteral("%1: cannot write %2: %3\n")
                           .arg(QLatin1String(kProgram), command->junitFile, problem));
        return 2;
    }
    return planExitStatus(*plan, runner, end);
}

int planMain(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    return runPlan(QCoreApplication::arguments(), out, err);
}
