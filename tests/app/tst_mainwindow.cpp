#include "windowfixture.h"

#include "clickablelineedit.h"
#include "ipnddatafile.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

namespace {
// The window with its option handlers watched: which ran, in order.
class WatchedWindow : public frmIPNDZandrel {
public:
    using frmIPNDZandrel::frmIPNDZandrel;
    QStringList handlers;
    void chkUnlimited_Click() override {
        handlers << QStringLiteral("chkUnlimited_Click");
        frmIPNDZandrel::chkUnlimited_Click();
    }
    void optRecType_Click(int index) override {
        handlers << QStringLiteral("optRecType_Click(%1)").arg(index);
        frmIPNDZandrel::optRecType_Click(index);
    }
    void optTestType_Click(int index) override {
        handlers << QStringLiteral("optTestType_Click(%1)").arg(index);
        frmIPNDZandrel::optTestType_Click(index);
    }
};

struct WatchedFixture : WindowFixture {
    explicit WatchedFixture(const QString &commandLine)
        : WindowFixture(commandLine, kNoMarker, kNoFolder, [](frmIPNDZandrel::Platform platform) {
            return std::make_unique<WatchedWindow>(std::move(platform));
        }) {}
    WatchedWindow &watched() { return static_cast<WatchedWindow &>(w()); }
    QStringList handlers() { return watched().handlers; }
};

// A control by its accessible name, else by its caption.
QWidget *controlNamed(frmIPNDZandrel &w, const QString &name) {
    if (name.isEmpty())
        return nullptr;
    const auto widgets = w.findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        if (widget->accessibleName() == name)
            return widget;
    for (QWidget *widget : widgets)
        if (auto *button = qobject_cast<QAbstractButton *>(widget);
            button && button->text() == name)
            return widget;
    return nullptr;
}

QString allEnabled(const QWidgetList &widgets) {
    const auto enabled = std::count_if(widgets.begin(), widgets.end(),
                                       [](QWidget *widget) { return widget->isEnabled(); });
    return enabled == widgets.size() ? QStringLiteral("on")
           : enabled == 0            ? QStringLiteral("off")
                                     : QStringLiteral("mixed");
}

// What the operator sees of the controls' effects.
QMap<QString, QString> operatorView(WindowFixture &f) {
    frmIPNDZandrel &w = f.w();
    QStringList titles;
    for (const QString &call : f.dialog->calls)
        titles << call.section(QLatin1Char('|'), 0, 0);
    const QStringList log = f.logLines();
    const auto logged = [&log](const char *start) {
        return QString::number(
            log.filter(QRegularExpression(QLatin1Char('^') +
                                          QRegularExpression::escape(QString::fromLatin1(start))))
                .size());
    };
    QString shape;
    for (QRadioButton *option : w.optMOLI)
        if (option->isChecked())
            shape = option->text();
    return {
        {QStringLiteral("frame"), w.frmTest4->isVisible() == w.frmTest5->isVisible()
                                      ? QStringLiteral("both or none")
                                      : QLatin1String(w.frmTest4->isVisible() ? "4" : "5")},
        {QStringLiteral("server"), allEnabled({w.Label5, w.Label4, w.chkTServer, w.Check1, w.Label2,
                                               w.Text1, w.cmbPSAP, w.Text3})},
        {QStringLiteral("count"), allEnabled({w.lbNoPackets, w.PktNum})},
        {QStringLiteral("dialogs"), titles.join(QLatin1Char(','))},
        {QStringLiteral("run"), w.RunControl->text()},
        {QStringLiteral("enable4"), QString::number(w.chkEnable[0]->isChecked())},
        {QStringLiteral("moli"), QString::number(w.chkMOLI->isChecked())},
        {QStringLiteral("shape"), shape},
        {QStringLiteral("sent4"), logged("--> ")},
        {QStringLiteral("sent5"), logged("TCP TCP Originate: Remote port <7018>")},
        {QStringLiteral("period"), QString::number(w.gPktPeriod)},
    };
}

// One change of a control's state by the given means: "mouse", "code", a key
// name (arrow keys go to the selected button of the group, as focus sits
// there), or an accessible action name ("Toggle", "Press"). The period box
// is typed into and then left.
// The focus leaves the box after "5" was typed into it: by a click on the
// terminal ID box, Tab, or that box's accessible SetFocus action.
void typeAndLeave(frmIPNDZandrel &w, QLineEdit *box, const QString &means) {
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("5"));
    if (means == QLatin1String("mouse"))
        QTest::mouseClick(w.txbTermID, Qt::LeftButton);
    else if (means == QLatin1String("Tab"))
        QTest::keyClick(box, Qt::Key_Tab);
    else
        QAccessible::queryAccessibleInterface(w.txbTermID)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::setFocusAction());
}

void act(frmIPNDZandrel &w, QWidget *target, const QString &means) {
    if (target == w.PktPer)
        return typeAndLeave(w, w.PktPer, means);
    auto *button = qobject_cast<QAbstractButton *>(target);
    const bool option = qobject_cast<QRadioButton *>(target) || qobject_cast<QCheckBox *>(target);
    if (means == QLatin1String("mouse")) {
        if (option)
            clickOption(button);
        else
            QTest::mouseClick(target, Qt::LeftButton);
    } else if (means == QLatin1String("code")) {
        if (option)
            button->setChecked(!button->isChecked());
        else
            button->click();
    } else if (means == QLatin1String("Toggle") || means == QLatin1String("Press")) {
        QAccessibleActionInterface *actions =
            QAccessible::queryAccessibleInterface(target)->actionInterface();
        QVERIFY(actions);
        const QString action = means == QLatin1String("Toggle")
                                   ? QAccessibleActionInterface::toggleAction()
                                   : QAccessibleActionInterface::pressAction();
        QVERIFY(actions->actionNames().contains(action));
        actions->doAction(action);
    } else {
        const int key = QKeySequence::fromString(means)[0].key();
        QWidget *receiver = target;
        if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
            key == Qt::Key_Down) {
            receiver = button->group()->checkedButton();
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            receiver->setFocus();
        }
        QTest::keyClick(receiver, Qt::Key(key));
    }
}

// Both socket rows as "port address enable", the period, whether the packet count
// and its label are enabled, and the title with the standard one as "*".
QString startupFields(frmIPNDZandrel &w) {
    QStringList fields;
    for (int i = 0; i < 2; ++i)
        fields << QStringLiteral("%1 %2 %3")
                      .arg(w.txbPort[i]->text(), w.txbAddress[i]->text(),
                           QString::number(w.chkEnable[i]->isChecked()));
    fields << QStringLiteral("period ") + w.PktPer->text()
           << QStringLiteral("count %1%2")
                  .arg(int(w.PktNum->isEnabled()))
                  .arg(int(w.lbNoPackets->isEnabled()))
           << w.windowTitle().replace(QStringLiteral("TALV TCP 000 Test Generator V1.10 (69)"),
                                      QStringLiteral("*"));
    return fields.join(QLatin1String(" | "));
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void defaultsWithoutCommandLine() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        QCOMPARE((QStringList{w.PktNum->text(), w.lbFileType->text(), w.txbTermID->text(),
                              w.RunControl->text(), w.timerlabel->text(), w.lbLastDelayed->text()}),
                 (QStringList{QStringLiteral("10000"), QStringLiteral("RAWLOG"),
                              QStringLiteral("999"), QStringLiteral("Start"),
                              QStringLiteral("Timer"), QStringLiteral("No Delayed packets")}));
        QCOMPARE((QList<int>{w.gPktRemaining, w.gTickCount, w.Timer1->interval()}),
                 (QList<int>{10000, 0, 1000}));
        // Type 4 panel, shape None, client side; running only the one-second timer, no socket.
        QCOMPARE((QList<bool>{w.frmTest4->isVisible(), w.frmTest5->isVisible(),
                              w.optMOLI[5]->isChecked(), w.optTestType[0]->isChecked(),
                              w.optRecType[0]->isChecked(), w.gRunning, w.Timer1->isActive(),
                              w.hasLinks()}),
                 (QList<bool>{true, false, true, true, true, false, true, false}));
    }

    void commandLineFields_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("logLine"); // a bad token's, else none
        const auto row = [](const char *tag, const char *commandLine, const char *fields,
                            const char *logLine = "") {
            QTest::newRow(tag) << QString::fromLatin1(commandLine) << QString::fromLatin1(fields)
                               << QString::fromLatin1(logLine);
        };
        row("none", "", "7005 192.168.0.43 0 | 7018 192.168.0.43 0 | period 20 | count 11 | *");
        row("port only", "8000",
            "8000 192.168.0.43 0 | 7018 192.168.0.43 0 | period 20 | count 11 | *");
        row("full", "8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True",
            "8000 127.0.0.1 1 | 8001 127.0.0.1 0 | period 5 | count 00 | Lab1-*");
        row("period 0 keeps 20", "1 h 0 2 h 0 0", "1 h 0 | 2 h 0 | period 20 | count 11 | *");
        row("unlimited False keeps box enabled", "1 h 0 2 h 1 5 T- False",
            "1 h 0 | 2 h 1 | period 5 | count 11 | T-*");
        row("data file with BASIC opens nothing", "1 h 0 2 h 0 5 T 1 missing.x01",
            "1 h 0 | 2 h 0 | period 5 | count 00 | T*");
        row("period beyond 16 bits", "1 h 0 2 h 0 70000",
            "1 h 0 | 2 h 0 | period 20 | count 11 | *",
            "Command line: Period token \"70000\" is outside the range -32768 to 32767; Period "
            "stays 20");
        row("period letters", "1 h 0 2 h 0 ten", "1 h 0 | 2 h 0 | period 20 | count 11 | *",
            "Command line: Period token \"ten\" is not a whole number; Period stays 0");
        row("enable word", "1 h yes", "1 h 0 | 7018 192.168.0.43 0 | period 20 | count 11 | *",
            "Command line: Type4Enable token \"yes\" is not True, False or a number; Type4Enable "
            "stays False");
    }

    void commandLineFields() {
        QFETCH(QString, commandLine);
        QFETCH(QString, fields);
        QFETCH(QString, logLine);
        WindowFixture f(commandLine);
        QCOMPARE(startupFields(f.w()), fields);
        QVERIFY(f.w().chkUnlimited->isChecked());
        // Start-up logs only bad tokens and opens no data file.
        QCOMPARE(f.logLines(), logLine.isEmpty() ? QStringList() : QStringList{logLine});
        QVERIFY(!f.w().ipndDataFile().isOpen());
    }

    void startUpAppliesBothOptionsOnce_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::newRow("no command line") << QString();
        QTest::newRow("unlimited True ticks the ticked box")
            << QStringLiteral("1 h 0 2 h 0 5 T True");
    }

    void startUpAppliesBothOptionsOnce() {
        QFETCH(QString, commandLine);
        WatchedFixture f(commandLine);
        QCOMPARE(f.handlers(), (QStringList{QStringLiteral("optTestType_Click(0)"),
                                            QStringLiteral("optRecType_Click(0)")}));
    }

    // Each control by each means an operator or a tool has: the same effect,
    // and each option handler once, for the button that became selected only.
    void controlsActOnEveryMeans_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("means");
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<QString>("effect");
        QTest::addColumn<QStringList>("handlers");
        const auto rows = [](const char *control, const QStringList &means, const char *prepare,
                             const char *effect, const QStringList &handlers) {
            for (const QString &how : means)
                QTest::addRow("%s by %s", control, qPrintable(how))
                    << QString::fromLatin1(control) << how << QString::fromLatin1(prepare)
                    << QString::fromLatin1(effect) << handlers;
        };
        const auto list = [](const char *text) {
            return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        rows("AML (Type5)", list("mouse Space Right Toggle code"), "", "frame=5",
             {QStringLiteral("optRecType_Click(1)")});
        rows("MOLI (Type4)", list("mouse Space Left Toggle code"), "AML (Type5)", "frame=4",
             {QStringLiteral("optRecType_Click(0)")});
        rows("Mimic PYRN Server", list("mouse Space Down Toggle code"), "", "server=on",
             {QStringLiteral("optTestType_Click(1)")});
        rows("Mimic Telstra Client", list("mouse Space Up Toggle code"), "Mimic PYRN Server",
             "server=off", {QStringLiteral("optTestType_Click(0)")});
        rows("Unlimited Pkts", list("mouse Space Toggle code"), "unlimited", "count=on",
             {QStringLiteral("chkUnlimited_Click")});
        rows("IPND data file", list("mouse Return Space Press"), "", "dialogs=IPND Data File", {});
        rows("XML data file", list("mouse Enter Space Press"), "AML (Type5)",
             "dialogs=XML Data File", {});
        rows("Enable Type 4 socket", list("mouse Space Toggle code"), "", "enable4=1", {});
        rows("MOLI Data", list("mouse Space Toggle code"), "", "moli=1", {});
        rows("Point", list("mouse Space Toggle code"), "", "shape=Point", {});
        rows("Start", list("mouse Space Press code"), "", "run=Stop", {});
        rows("Standard", list("mouse Space Press code"), "", "sent4=1", {});
        rows("Send", list("mouse Space Press code"), "AML (Type5)", "sent5=1", {});
        // A period typed into its box takes effect when the focus leaves it.
        rows("Period", list("mouse Tab SetFocus"), "", "period=5", {});
    }

    void controlsActOnEveryMeans() {
        QFETCH(QString, control);
        QFETCH(QString, means);
        QFETCH(QString, prepare);
        QFETCH(QString, effect);
        QFETCH(QStringList, handlers);
        WatchedFixture f(
            QStringLiteral("7005 127.0.0.1 0 7018 127.0.0.1 0") +
            (prepare == QLatin1String("unlimited") ? QStringLiteral(" 20 Lab- True") : QString()));
        frmIPNDZandrel &w = f.w();
        if (auto *option = qobject_cast<QRadioButton *>(controlNamed(w, prepare)))
            option->setChecked(true);
        f.watched().handlers.clear();
        QWidget *target = controlNamed(w, control);
        QVERIFY(target);

        QMap<QString, QString> expected = operatorView(f);
        expected[effect.section(QLatin1Char('='), 0, 0)] = effect.section(QLatin1Char('='), 1);
        act(w, target, means);
        QTRY_COMPARE(operatorView(f), expected);
        QCOMPARE(f.handlers(), handlers);
    }

    void optionHandlersIgnoreOtherIndexes() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        w.optRecType_Click(7);
        w.Text3->setText(QStringLiteral("XYZ"));
        w.optTestType_Click(1);
        w.optTestType_Click(0);
        QCOMPARE(operatorView(f).value(QStringLiteral("frame")), QStringLiteral("4"));
        // Greyed out, contents kept.
        QCOMPARE(w.Text3->text() + w.Text1->text(), QStringLiteral("XYZR"));
        QVERIFY(w.chkTServer->isChecked() && w.Check1->isChecked());
    }

    void psapListInOrder() {
        WindowFixture f;
        QStringList items;
        for (int i = 0; i < f.w().cmbPSAP->count(); ++i)
            items << f.w().cmbPSAP->itemText(i);
        QCOMPARE(items.join(QLatin1Char(',')),
                 QStringLiteral("Q1,Q2,Q3,Q4,Q5,Q6,Q7,FB,FC,FFN,FN,FNC,FSE,FSW"));
        QCOMPARE(f.w().cmbPSAP->currentText(), QStringLiteral("Combo1"));
    }

    void accessibleNames() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        QStringList names;
        for (QWidget *widget :
             QWidgetList{w.txbPort[0], w.txbAddress[0], w.chkEnable[0], w.txbPort[1],
                         w.txbAddress[1], w.chkEnable[1], w.txbTermID, w.cmbPSAP, w.Text3, w.Text1,
                         w.PktPer, w.PktNum, w.lbIPNDfile, w.txbFileName, w.lbProcessed,
                         w.txbDelayedCt, w.txbMessage, w.txbLog})
            names << widget->accessibleName();
        QCOMPARE(names.join(QLatin1Char('|')),
                 QStringLiteral("Type 4 port|Type 4 address|Enable Type 4 socket|Type 5 port|"
                                "Type 5 address|Enable Type 5 socket|Terminal ID|PSAP|Agency|"
                                "Service Identifier|Period|Packets|IPND data file|XML data file|"
                                "Packets Processed|Delayed Responses|Last message|Log"));
        // Every button and check box is found by its caption or its name.
        const auto buttons = w.findChildren<QAbstractButton *>();
        QVERIFY(buttons.size() >= 20);
        for (QAbstractButton *button : buttons) {
            QVERIFY(!button->text().isEmpty() || !button->accessibleName().isEmpty());
            if (!button->isEnabled()) // the greyed-out server options offer nothing
                continue;
            const QStringList actions =
                QAccessible::queryAccessibleInterface(button)->actionInterface()->actionNames();
            QVERIFY2(actions.contains(QAccessibleActionInterface::pressAction()) ||
                         actions.contains(QAccessibleActionInterface::toggleAction()),
                     qPrintable(button->text()));
        }
        // The file-name boxes: a Press action, and their file name read as text.
        w.lbIPNDfile->setText(QStringLiteral(".\\ipnd3.x01"));
        for (QLineEdit *box :
             {static_cast<QLineEdit *>(w.lbIPNDfile), static_cast<QLineEdit *>(w.txbFileName)}) {
            QAccessibleInterface *seen = QAccessible::queryAccessibleInterface(box);
            QVERIFY(seen->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::pressAction()));
            QCOMPARE(seen->textInterface()->text(0, seen->textInterface()->characterCount()),
                     box->text());
            QCOMPARE(seen->text(QAccessible::Name), box->accessibleName());
        }
    }

    void logBoxShowsOneLinePerMessage() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        w.LogMessage(QStringLiteral("A"));
        w.LogMessage(QStringLiteral("B"));
        QCOMPARE(w.logText(), QStringLiteral("B\r\nA\r\n"));
        QCOMPARE(w.txbLog->toPlainText(), QStringLiteral("B\nA"));
        QCOMPARE(w.txbLog->document()->blockCount(), 2);
        QVERIFY(w.txbLog->isReadOnly());
        QVERIFY(w.txbLog->textInteractionFlags() & Qt::TextSelectableByMouse);
    }

    void developmentMarker_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("folder reached: message box") << true;
        QTest::newRow("folder unreachable: log line, no crash") << false;
    }

    void developmentMarker() {
        QFETCH(bool, folderExists);
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("development.txt"));
        QFile file(marker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString folder =
            folderExists ? dir.path() : QStringLiteral("e:\\BASE\\PYRN\\TALV_000_Generator");
        const QString before = QDir::currentPath();
        WindowFixture f({}, marker, folder);
        // Where it ended up, its message boxes, its log: one or the other, never both.
        const QStringList seen{QDir::currentPath(), f.messageBoxes.join(QLatin1Char(';')),
                               f.logLines().join(QLatin1Char(';'))};
        QDir::setCurrent(before);
        const QStringList expected =
            folderExists
                ? QStringList{QDir(dir.path()).canonicalPath(),
                              QStringLiteral("TALV TCP 000 Test Generator V1.10 (69)|"
                                             "Current directory changed to ") +
                                  folder,
                              QString()}
                : QStringList{before, QString(),
                              QStringLiteral("Unable to change the current folder to ") + folder};
        QCOMPARE(seen, expected);
        QCOMPARE(f.w().txbPort[0]->text(), QStringLiteral("7005"));
    }

    void unloadDestroysLinks() {
        WindowFixture f;
        f.w().frmTCP1();
        f.w().frmTCP2();
        QVERIFY(f.w().hasLinks());
        QSignalSpy unloaded(&f.w(), &frmIPNDZandrel::unloaded);
        f.w().close();
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!f.w().hasLinks());
        QVERIFY(!f.w().Timer1->isActive());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
