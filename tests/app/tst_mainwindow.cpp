#include "windowfixture.h"

#include "clickablelineedit.h"
#include "ipnddatafile.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

namespace {
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

    void recordTypeSwitchesFrames() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        const auto shown = [&w] {
            return QList<bool>{w.frmTest4->isVisible(), w.frmTest5->isVisible(),
                               w.txbFileName->isVisible(), w.cmdSend5->isVisible()};
        };
        clickOption(w.optRecType[1]);
        QCOMPARE(shown(), (QList<bool>{false, true, true, true}));
        clickOption(w.optRecType[0]);
        QCOMPARE(shown(), (QList<bool>{true, false, false, false}));
        w.optRecType_Click(7); // any other index changes nothing
        QCOMPARE(shown(), (QList<bool>{true, false, false, false}));
    }

    void testSideEnablesServerOptionsInOrder() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        const auto enabled = [&w] {
            QList<bool> states;
            for (QWidget *option :
                 QWidgetList{w.Label5, w.Label4, w.chkTServer, w.Check1, w.Label2, w.Text1,
                             w.cmbPSAP, w.Text3, w.txbTermID, w.cmdClose})
                states << option->isEnabled();
            return states;
        };
        const QList<bool> clientSide{false, false, false, false, false,
                                     false, false, false, true,  true};
        QCOMPARE(enabled(), clientSide);
        w.Text3->setText(QStringLiteral("XYZ"));
        clickOption(w.optTestType[1]);
        QCOMPARE(enabled(), QList<bool>(10, true));
        clickOption(w.optTestType[0]);
        QCOMPARE(enabled(), clientSide);
        // Contents survive the greying out.
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
        for (QAbstractButton *button : buttons)
            QVERIFY(!button->text().isEmpty() || !button->accessibleName().isEmpty());
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

    void fileBoxesOpenOnClickEnterAndSpace() {
        WindowFixture f;
        frmIPNDZandrel &w = f.w();
        QSignalSpy ipnd(w.lbIPNDfile, &ClickableLineEdit::activated);
        QTest::mouseClick(w.lbIPNDfile, Qt::LeftButton);
        w.lbIPNDfile->setFocus();
        QTest::keyClick(w.lbIPNDfile, Qt::Key_Return);
        QTest::keyClick(w.lbIPNDfile, Qt::Key_Space);
        QTest::keyClick(w.lbIPNDfile, Qt::Key_A);
        QCOMPARE(ipnd.size(), 3);
        clickOption(w.optRecType[1]);
        QTest::keyClick(w.txbFileName, Qt::Key_Enter);
        const QString ipndCall =
            QStringLiteral("IPND Data File|.\\*.x01|Data file (*.x01)|*.x01|All (*.*)|*.*");
        QCOMPARE(f.dialog->calls,
                 (QStringList{ipndCall, ipndCall, ipndCall,
                              QStringLiteral(
                                  "XML Data File|.\\*.xml|XML file (*.xml)|*.xml|All (*.*)|*.*")}));
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
