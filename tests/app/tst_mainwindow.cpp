#include "windowfixture.h"

#include "clickablelineedit.h"
#include "ipnddatafile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Option buttons stretch across their layout cell; click on their caption.
void clickOption(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void defaultsWithoutCommandLine();
    void commandLineFields_data();
    void commandLineFields();
    void badTokensAreLogged_data();
    void badTokensAreLogged();
    void moliShapeTable();
    void recordTypeSwitchesFrames();
    void testSideEnablesServerOptionsInOrder();
    void psapListInOrder();
    void accessibleNames();
    void logBoxShowsOneLinePerMessage();
    void developmentMarker_data();
    void developmentMarker();
    void fileBoxesOpenOnClickEnterAndSpace();
    void unloadDestroysLinks();
};

namespace {
// Both socket rows as "port address enable | port address enable".
QString socketRows(frmIPNDZandrel &w) {
    QStringList rows;
    for (int i = 0; i < 2; ++i)
        rows << QStringLiteral("%1 %2 %3")
                    .arg(w.txbPort[i]->text(), w.txbAddress[i]->text(),
                         w.chkEnable[i]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    return rows.join(QLatin1String(" | "));
}
} // namespace

void TestMainWindow::defaultsWithoutCommandLine() {
    WindowFixture f;
    frmIPNDZandrel &w = f.w();
    QCOMPARE(w.PktNum->text(), QStringLiteral("10000"));
    QCOMPARE(w.lbFileType->text(), QStringLiteral("RAWLOG"));
    QVERIFY(w.frmTest4->isVisible());
    QVERIFY(!w.frmTest5->isVisible());
    QVERIFY(w.optMOLI[5]->isChecked());
    QVERIFY(w.optTestType[0]->isChecked());
    QVERIFY(w.optRecType[0]->isChecked());
    QCOMPARE(w.txbTermID->text(), QStringLiteral("999"));
    QCOMPARE(w.RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(w.timerlabel->text(), QStringLiteral("Timer"));
    QCOMPARE(w.lbLastDelayed->text(), QStringLiteral("No Delayed packets"));
    QCOMPARE(w.gPktRemaining, qint16(10000));
    QCOMPARE(w.gTickCount, qint16(0));
    QVERIFY(!w.gRunning);
    QVERIFY(w.Timer1->isActive());
    QCOMPARE(w.Timer1->interval(), 1000);
    // Start-up opens no socket.
    QVERIFY(!w.hasLinks());
}

void TestMainWindow::commandLineFields_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("packetsEnabled");
    QTest::addColumn<QString>("title");
    const QString title = QStringLiteral("TALV TCP 000 Test Generator V1.10 (69)");
    const QString defaultRows = QStringLiteral("7005 192.168.0.43 0 | 7018 192.168.0.43 0");
    QTest::newRow("none") << QString() << defaultRows << QStringLiteral("20") << true << title;
    QTest::newRow("port only") << QStringLiteral("8000")
                               << QStringLiteral("8000 192.168.0.43 0 | 7018 192.168.0.43 0")
                               << QStringLiteral("20") << true << title;
    QTest::newRow("full") << QStringLiteral("8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True")
                          << QStringLiteral("8000 127.0.0.1 1 | 8001 127.0.0.1 0")
                          << QStringLiteral("5") << false << QStringLiteral("Lab1-") + title;
    QTest::newRow("period 0 keeps 20")
        << QStringLiteral("1 h 0 2 h 0 0") << QStringLiteral("1 h 0 | 2 h 0")
        << QStringLiteral("20") << true << title;
    QTest::newRow("unlimited False keeps box enabled")
        << QStringLiteral("1 h 0 2 h 1 5 T- False") << QStringLiteral("1 h 0 | 2 h 1")
        << QStringLiteral("5") << true << QStringLiteral("T-") + title;
    QTest::newRow("data file with BASIC opens nothing")
        << QStringLiteral("1 h 0 2 h 0 5 T 1 missing.x01") << QStringLiteral("1 h 0 | 2 h 0")
        << QStringLiteral("5") << false << QStringLiteral("T") + title;
}

void TestMainWindow::commandLineFields() {
    QFETCH(QString, commandLine);
    QFETCH(QString, rows);
    QFETCH(QString, period);
    QFETCH(bool, packetsEnabled);
    QFETCH(QString, title);
    WindowFixture f(commandLine);
    QCOMPARE(socketRows(f.w()), rows);
    QCOMPARE(f.w().PktPer->text(), period);
    QCOMPARE(f.w().PktNum->isEnabled(), packetsEnabled);
    QCOMPARE(f.w().lbNoPackets->isEnabled(), packetsEnabled);
    QVERIFY(f.w().chkUnlimited->isChecked());
    QCOMPARE(f.w().windowTitle(), title);
    // Start-up writes no log line and opens no data file.
    QCOMPARE(f.w().logText(), QString());
    QVERIFY(!f.w().ipndDataFile().isOpen());
}

void TestMainWindow::badTokensAreLogged_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("period");
    QTest::newRow("period beyond 16 bits")
        << QStringLiteral("1 h 0 2 h 0 70000")
        << QStringLiteral("Command line: Period token \"70000\" is outside the range -32768 to "
                          "32767; Period stays 20")
        << QStringLiteral("20");
    QTest::newRow("period letters") << QStringLiteral("1 h 0 2 h 0 ten")
                                    << QStringLiteral("Command line: Period token \"ten\" is not a "
                                                      "whole number; Period stays 0")
                                    << QStringLiteral("20");
    QTest::newRow("enable word") << QStringLiteral("1 h yes")
                                 << QStringLiteral(
                                        "Command line: Type4Enable token \"yes\" is "
                                        "not True, False or a number; Type4Enable stays False")
                                 << QStringLiteral("20");
}

void TestMainWindow::badTokensAreLogged() {
    QFETCH(QString, commandLine);
    QFETCH(QString, logLine);
    QFETCH(QString, period);
    WindowFixture f(commandLine);
    QCOMPARE(f.logLines(), QStringList{logLine});
    QCOMPARE(f.w().PktPer->text(), period);
    QVERIFY(!f.w().chkEnable[0]->isChecked());
}

void TestMainWindow::moliShapeTable() {
    WindowFixture f;
    const std::array<int, 8> lengths{105, 109, 117, 240, 114, 73, 585, 0};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(f.w().gMOLIRecords[i].size(), lengths[i]);
    QVERIFY(f.w().gMOLIRecords[0].startsWith("|WGS84|O|"));
    QVERIFY(f.w().gMOLIRecords[5].startsWith("||N|"));
    QVERIFY(f.w().gMOLIRecords[6].startsWith("|WGS84|X|"));
}

void TestMainWindow::recordTypeSwitchesFrames() {
    WindowFixture f;
    frmIPNDZandrel &w = f.w();
    clickOption(w.optRecType[1]);
    QVERIFY(w.frmTest5->isVisible());
    QVERIFY(w.txbFileName->isVisible());
    QVERIFY(w.cmdSend5->isVisible());
    QVERIFY(!w.frmTest4->isVisible());
    clickOption(w.optRecType[0]);
    QVERIFY(w.frmTest4->isVisible());
    QVERIFY(!w.frmTest5->isVisible());
    w.optRecType_Click(7); // any other index changes nothing
    QVERIFY(w.frmTest4->isVisible());
    QVERIFY(!w.frmTest5->isVisible());
}

void TestMainWindow::testSideEnablesServerOptionsInOrder() {
    WindowFixture f;
    frmIPNDZandrel &w = f.w();
    const QList<QWidget *> serverOptions{w.Label5, w.Label4, w.chkTServer, w.Check1,
                                         w.Label2, w.Text1,  w.cmbPSAP,    w.Text3};
    for (QWidget *option : serverOptions)
        QVERIFY(!option->isEnabled());
    w.Text3->setText(QStringLiteral("XYZ"));
    clickOption(w.optTestType[1]);
    for (QWidget *option : serverOptions)
        QVERIFY(option->isEnabled());
    clickOption(w.optTestType[0]);
    for (QWidget *option : serverOptions)
        QVERIFY(!option->isEnabled());
    // Contents survive the greying out.
    QCOMPARE(w.Text3->text(), QStringLiteral("XYZ"));
    QCOMPARE(w.Text1->text(), QStringLiteral("R"));
    QVERIFY(w.chkTServer->isChecked());
    QVERIFY(w.Check1->isChecked());
    QVERIFY(w.txbTermID->isEnabled());
    QVERIFY(w.cmdClose->isEnabled());
}

void TestMainWindow::psapListInOrder() {
    WindowFixture f;
    QStringList items;
    for (int i = 0; i < f.w().cmbPSAP->count(); ++i)
        items << f.w().cmbPSAP->itemText(i);
    QCOMPARE(items.join(QLatin1Char(',')),
             QStringLiteral("Q1,Q2,Q3,Q4,Q5,Q6,Q7,FB,FC,FFN,FN,FNC,FSE,FSW"));
    QCOMPARE(f.w().cmbPSAP->currentText(), QStringLiteral("Combo1"));
}

void TestMainWindow::accessibleNames() {
    WindowFixture f;
    frmIPNDZandrel &w = f.w();
    const std::pair<QWidget *, const char *> named[] = {
        {w.txbPort[0], "Type 4 port"},
        {w.txbAddress[0], "Type 4 address"},
        {w.chkEnable[0], "Enable Type 4 socket"},
        {w.txbPort[1], "Type 5 port"},
        {w.txbAddress[1], "Type 5 address"},
        {w.chkEnable[1], "Enable Type 5 socket"},
        {w.txbTermID, "Terminal ID"},
        {w.cmbPSAP, "PSAP"},
        {w.Text3, "Agency"},
        {w.Text1, "Service Identifier"},
        {w.PktPer, "Period"},
        {w.PktNum, "Packets"},
        {w.lbIPNDfile, "IPND data file"},
        {w.txbFileName, "XML data file"},
        {w.lbProcessed, "Packets Processed"},
        {w.txbDelayedCt, "Delayed Responses"},
        {w.txbMessage, "Last message"},
        {w.txbLog, "Log"},
    };
    for (const auto &[widget, name] : named)
        QCOMPARE(widget->accessibleName(), QString::fromLatin1(name));
    // Every button and check box is found by its caption; captions are unique but for "Enable".
    const auto buttons = w.findChildren<QAbstractButton *>();
    QVERIFY(buttons.size() >= 20);
    for (QAbstractButton *button : buttons)
        QVERIFY(!button->text().isEmpty() || !button->accessibleName().isEmpty());
}

void TestMainWindow::logBoxShowsOneLinePerMessage() {
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

void TestMainWindow::developmentMarker_data() {
    QTest::addColumn<bool>("folderExists");
    QTest::newRow("folder reached: message box") << true;
    QTest::newRow("folder unreachable: log line, no crash") << false;
}

void TestMainWindow::developmentMarker() {
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
    const QString after = QDir::currentPath();
    QDir::setCurrent(before);
    if (folderExists) {
        QCOMPARE(after, QDir(dir.path()).canonicalPath());
        QCOMPARE(f.messageBoxes, QStringList{QStringLiteral("TALV TCP 000 Test Generator V1.10 "
                                                            "(69)|Current directory changed to ") +
                                             folder});
        QCOMPARE(f.w().logText(), QString());
    } else {
        QCOMPARE(after, before);
        QVERIFY(f.messageBoxes.isEmpty());
        QCOMPARE(f.logLines(),
                 QStringList{QStringLiteral("Unable to change the current folder to ") + folder});
    }
    QCOMPARE(f.w().txbPort[0]->text(), QStringLiteral("7005"));
}

void TestMainWindow::fileBoxesOpenOnClickEnterAndSpace() {
    WindowFixture f;
    frmIPNDZandrel &w = f.w();
    QSignalSpy ipnd(w.lbIPNDfile, &ClickableLineEdit::activated);
    QTest::mouseClick(w.lbIPNDfile, Qt::LeftButton);
    w.lbIPNDfile->setFocus();
    QTest::keyClick(w.lbIPNDfile, Qt::Key_Return);
    QTest::keyClick(w.lbIPNDfile, Qt::Key_Space);
    QTest::keyClick(w.lbIPNDfile, Qt::Key_A);
    QCOMPARE(ipnd.size(), 3);
    QCOMPARE(f.dialog->calls.size(), 3);
    QCOMPARE(f.dialog->calls.first(),
             QStringLiteral("IPND Data File|.\\*.x01|Data file (*.x01)|*.x01|All (*.*)|*.*"));
    clickOption(w.optRecType[1]);
    QTest::keyClick(w.txbFileName, Qt::Key_Enter);
    QCOMPARE(f.dialog->calls.size(), 4);
    QCOMPARE(f.dialog->calls.last(),
             QStringLiteral("XML Data File|.\\*.xml|XML file (*.xml)|*.xml|All (*.*)|*.*"));
}

void TestMainWindow::unloadDestroysLinks() {
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
