// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmipndzandrel.h"

#if TALVGEN_CHART
#include "responsechart.h"
#endif

#include "cannedrecords.h"
#include "clickablelineedit.h"
#include "ipnddatafile.h"
#include "systempaths.h"
#include "type4link.h"
#include "type5link.h"
#include "xmllinestore.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kTimer1IntervalMs = 1000;
constexpr int kWindowWidthPx = 860;
constexpr int kWindowHeightPx = 720;
constexpr int kChartWidthPx = 480; // the window grows by this when the chart shows

QLabel *label(const char *text) {
    return new QLabel(QString::fromLatin1(text));
}

QLineEdit *textBox(const char *designText, int widthChars = 0) {
    auto *box = new QLineEdit(QString::fromLatin1(designText));
    if (widthChars > 0)
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * widthChars +
                             16);
    return box;
}

// Qt reads "[*]" in a window title as the place of its modified mark and drops it;
// "[*][*]" is how a literal "[*]" is written.
QString literalTitle(QString title) {
    return title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

} // namespace

frmIPNDZandrel::frmIPNDZandrel(Platform platform, QWidget *parent)
    : QMainWindow(parent)
    , m_platform(std::move(platform)) {
    if (!m_platform.fileDialog)
        m_platform.fileDialog = std::make_shared<QtFileDialog>();
    if (!m_platform.messageBox)
        m_platform.messageBox = qtMessageBox(this);
    if (!m_platform.clock)
        m_platform.clock = [] {
            return QDateTime::currentDateTime();
        };

    m_ipnd =
        std::make_unique<IpndDataFile>([this](const QString &line) { LogMessage(line); },
                                       [this](const QString &name) { lbIPNDfile->setText(name); });
    m_xml = std::make_unique<XmlLineStore>();
    m_xml->log = [this](const QString &line) {
        LogMessage(line);
    };
    m_xml->clearLog = [this] {
        m_log.ClearLog();
    };
    m_xml->yield = [] {
        QCoreApplication::processEvents();
    };
    m_xml->clock = [this] {
        return currentDateTime();
    };

    buildWindow();
    setAccessibleNames();
    connectHandlers();
    connect(&m_log, &Log::shownTextChanged, this, &frmIPNDZandrel::showLogText);
}

frmIPNDZandrel::~frmIPNDZandrel() {
    Form_Unload();
}

QString frmIPNDZandrel::applicationTitle() {
    return QStringLiteral("TALV TCP 000 Test Generator V%1.%2 (%3)")
        .arg(TALVGEN_VERSION_MAJOR)
        .arg(TALVGEN_VERSION_MINOR)
        .arg(TALVGEN_VERSION_PATCH);
}

// ---------------------------------------------------------------- layout

void frmIPNDZandrel::buildWindow() {
    auto *central = new QWidget;
    auto *columns = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    left->addWidget(buildSocketRows());
    left->addWidget(buildRecordTypeRow());
    left->addWidget(buildTestServiceFrame());
    left->addWidget(buildType4Frame());
    left->addWidget(buildType5Frame());
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->addWidget(buildCycleFrame());
    right->addWidget(buildCounters());
    txbMessage = new QPlainTextEdit;
    txbMessage->setReadOnly(true);
    txbMessage->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    right->addWidget(txbMessage, 1);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    txbLog = new QPlainTextEdit;
    txbLog->setReadOnly(true);
    txbLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txbLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txbLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txbLog->setFont(QFont(QStringLiteral("Monospace")));

    auto *logRow = new QHBoxLayout;
    logRow->addWidget(txbLog, 1);
#if TALVGEN_CHART
    responseChart = new ResponseChart;
    responseChart->hide();
    logRow->addWidget(responseChart, 1);
#endif

    auto *outer = new QVBoxLayout(central);
    outer->addLayout(columns);
    outer->addLayout(logRow, 1);
    setCentralWidget(central);

    responseStatus = new QLabel(QStringLiteral("No responses yet"));
    responseStatus->setAccessibleName(QStringLiteral("Response times"));
    responseStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(responseStatus, 1);
#if TALVGEN_CHART
    chkChart = new QCheckBox(QStringLiteral("Chart"));
    statusBar()->addPermanentWidget(chkChart);
#endif

    Timer1 = new QTimer(this);
    Timer1->setInterval(kTimer1IntervalMs);
    resize(kWindowWidthPx, kWindowHeightPx);
}

QWidget *frmIPNDZandrel::buildSocketRows() {
    auto *box = new QWidget;
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    Label6 = label("Type 4 Socket");
    Label7 = label("Type 5 Socket");
    const std::array<QLabel *, 2> heads{Label6, Label7};
    for (int row = 0; row < 2; ++row) {
        txbPort[row] = textBox("", 6);
        txbAddress[row] = textBox("");
        chkEnable[row] = new QCheckBox(QStringLiteral("Enable"));
        grid->addWidget(heads[row], row, 0);
        grid->addWidget(txbPort[row], row, 1);
        grid->addWidget(txbAddress[row], row, 2);
        grid->addWidget(chkEnable[row], row, 3);
    }
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *frmIPNDZandrel::buildRecordTypeRow() {
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    m_recTypeGroup = new QButtonGroup(this);
    optRecType[0] = new QRadioButton(QStringLiteral("MOLI (Type4)"));
    optRecType[1] = new QRadioButton(QStringLiteral("AML (Type5)"));
    for (int i = 0; i < 2; ++i) {
        m_recTypeGroup->addButton(optRecType[i], i);
        row->addWidget(optRecType[i]);
    }
    optRecType[0]->setChecked(true);
    row->addStretch(1);
    return box;
}

QGroupBox *frmIPNDZandrel::buildTestServiceFrame() {
    frmeTest = new QGroupBox(QStringLiteral("Test Service Type"));
    auto *grid = new QGridLayout(frmeTest);
    m_testTypeGroup = new QButtonGroup(this);
    optTestType[0] = new QRadioButton(QStringLiteral("Mimic Telstra Client"));
    optTestType[1] = new QRadioButton(QStringLiteral("Mimic PYRN Server"));
    m_testTypeGroup->addButton(optTestType[0], 0);
    m_testTypeGroup->addButton(optTestType[1], 1);
    optTestType[0]->setChecked(true);
    txbTermID = textBox("999", 5);
    cmdClose = new QPushButton(QStringLiteral("Close"));
    Label5 = label("PSAP");
    cmbPSAP = new QComboBox;
    cmbPSAP->setEditable(true);
    cmbPSAP->addItems({QStringLiteral("Q1"), QStringLiteral("Q2"), QStringLiteral("Q3"),
                       QStringLiteral("Q4"), QStringLiteral("Q5"), QStringLiteral("Q6"),
                       QStringLiteral("Q7"), QStringLiteral("FB"), QStringLiteral("FC"),
                       QStringLiteral("FFN"), QStringLiteral("FN"), QStringLiteral("FNC"),
                       QStringLiteral("FSE"), QStringLiteral("FSW")});
    cmbPSAP->setEditText(QStringLiteral("Combo1"));
    cmbPSAP->setMinimumContentsLength(8);
    Label4 = label("Agency");
    Text3 = textBox("QAS", 6);
    Label2 = label("Service Identifier");
    Text1 = textBox("R", 4);
    chkTServer = new QCheckBox(QStringLiteral("TServer Enabled"));
    chkTServer->setChecked(true);
    Check1 = new QCheckBox(QStringLiteral("Paired"));
    Check1->setChecked(true);

    grid->addWidget(optTestType[0], 0, 0, 1, 2);
    grid->addWidget(optTestType[1], 1, 0, 1, 2);
    grid->addWidget(txbTermID, 0, 2);
    grid->addWidget(cmdClose, 1, 2);
    grid->addWidget(Label5, 2, 0);
    grid->addWidget(cmbPSAP, 2, 1);
    grid->addWidget(chkTServer, 2, 2);
    grid->addWidget(Label4, 3, 0);
    grid->addWidget(Text3, 3, 1);
    grid->addWidget(Check1, 3, 2);
    grid->addWidget(Label2, 4, 0);
    grid->addWidget(Text1, 4, 1);
    grid->setColumnStretch(1, 1);
    return frmeTest;
}

QGroupBox *frmIPNDZandrel::buildType4Frame() {
    frmTest4 = new QGroupBox(QStringLiteral("Type 4 Single Test Packets"));
    auto *grid = new QGridLayout(frmTest4);
    chkMOLI = new QCheckBox(QStringLiteral("MOLI Data"));
    grid->addWidget(chkMOLI, 0, 0);
    auto *group = new QButtonGroup(this);
    const char *shapes[] = {"Point", "Circular", "Circular Arc", "Polygon", "Ellipsoid", "None"};
    for (int i = 0; i < 6; ++i) {
        optMOLI[i] = new QRadioButton(QString::fromLatin1(shapes[i]));
        group->addButton(optMOLI[i], i);
        grid->addWidget(optMOLI[i], 1 + i / 3, i % 3);
    }
    optMOLI[5]->setChecked(true);
    cmdStandard = new QPushButton(QStringLiteral("Standard"));
    cmdLongAdd = new QPushButton(QStringLiteral("Long"));
    cmdNoAdd = new QPushButton(QStringLiteral("No Add"));
    cmdMinAdd = new QPushButton(QStringLiteral("Min"));
    cmdMaxAdd = new QPushButton(QStringLiteral("Max"));
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {cmdStandard, cmdLongAdd, cmdNoAdd, cmdMinAdd, cmdMaxAdd})
        buttons->addWidget(button);
    grid->addLayout(buttons, 3, 0, 1, 3);
    return frmTest4;
}

QGroupBox *frmIPNDZandrel::buildType5Frame() {
    frmTest5 = new QGroupBox(QStringLiteral("Type 5 Packet Tesing"));
    auto *row = new QHBoxLayout(frmTest5);
    txbFileName = new ClickableLineEdit;
    txbFileName->setReadOnly(true);
    txbFileName->setPlaceholderText(QStringLiteral("Click to choose an XML data file"));
    cmdSend5 = new QPushButton(QStringLiteral("Send"));
    row->addWidget(txbFileName, 1);
    row->addWidget(cmdSend5);
    return frmTest5;
}

QGroupBox *frmIPNDZandrel::buildCycleFrame() {
    Frame7 = new QGroupBox(QStringLiteral("Cycle Packet Control"));
    auto *grid = new QGridLayout(Frame7);
    RunControl = new QPushButton(QStringLiteral("Start"));
    label22 = label("Period");
    PktPer = textBox("", 7);
    lbNoPackets = label("Packets");
    PktNum = textBox("", 7);
    chkUnlimited = new QCheckBox(QStringLiteral("Unlimited Pkts"));
    chkUnlimited->setChecked(true);
    lbFileType = label("");
    timerlabel = label("Timer");
    lbIPNDfile = new ClickableLineEdit;
    lbIPNDfile->setReadOnly(true);
    lbIPNDfile->setPlaceholderText(QStringLiteral("Click to choose the IPND data file"));

    grid->addWidget(RunControl, 0, 0);
    grid->addWidget(label22, 0, 1);
    grid->addWidget(PktPer, 0, 2);
    grid->addWidget(timerlabel, 0, 3);
    grid->addWidget(chkUnlimited, 1, 0);
    grid->addWidget(lbNoPackets, 1, 1);
    grid->addWidget(PktNum, 1, 2);
    grid->addWidget(lbFileType, 1, 3);
    grid->addWidget(lbIPNDfile, 2, 0, 1, 4);
    grid->setColumnStretch(3, 1);
    return Frame7;
}

QWidget *frmIPNDZandrel::buildCounters() {
    auto *box = new QWidget;
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    Label1 = label("Packets Processed");
    lbProcessed = textBox("", 8);
    lbProcessed->setReadOnly(true);
    Label3 = label("Delayed Responses");
    txbDelayedCt = textBox("", 8);
    txbDelayedCt->setReadOnly(true);
    lbLastDelayed = label("No Delayed packets");
    cmdResetCt = new QPushButton(QStringLiteral("R"));
    cmdResetCt->setMaximumWidth(cmdResetCt->fontMetrics().horizontalAdvance(QStringLiteral("RR")) +
                                16);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(lbProcessed, 0, 1);
    grid->addWidget(cmdResetCt, 0, 2);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(txbDelayedCt, 1, 1);
    grid->addWidget(lbLastDelayed, 2, 0, 1, 3);
    grid->setColumnStretch(3, 1);
    return box;
}

void frmIPNDZandrel::setAccessibleNames() {
    const std::pair<QWidget *, const char *> names[] = {
        {txbPort[0], "Type 4 port"},
        {txbAddress[0], "Type 4 address"},
        {chkEnable[0], "Enable Type 4 socket"},
        {txbPort[1], "Type 5 port"},
        {txbAddress[1], "Type 5 address"},
        {chkEnable[1], "Enable Type 5 socket"},
        {txbTermID, "Terminal ID"},
        {cmbPSAP, "PSAP"},
        {Text3, "Agency"},
        {Text1, "Service Identifier"},
        {PktPer, "Period"},
        {PktNum, "Packets"},
        {lbIPNDfile, "IPND data file"},
        {txbFileName, "XML data file"},
        {lbProcessed, "Packets Processed"},
        {txbDelayedCt, "Delayed Responses"},
        {txbMessage, "Last message"},
        {txbLog, "Log"},
    };
    for (const auto &[widget, name] : names)
        widget->setAccessibleName(QString::fromLatin1(name));
    // Labels name the box beside them for screen readers.
    Label5->setBuddy(cmbPSAP);
    Label4->setBuddy(Text3);
    Label2->setBuddy(Text1);
    label22->setBuddy(PktPer);
    lbNoPackets->setBuddy(PktNum);
    Label1->setBuddy(lbProcessed);
    Label3->setBuddy(txbDelayedCt);
}

void frmIPNDZandrel::connectHandlers() {
    connect(Timer1, &QTimer::timeout, this, &frmIPNDZandrel::Timer1_Timer);
    connect(RunControl, &QPushButton::clicked, this, &frmIPNDZandrel::RunControl_Click);
    // State changes, not clicks: the keyboard, assistive technology and code
    // change these controls without a click.
    connect(chkUnlimited, &QCheckBox::toggled, this, &frmIPNDZandrel::chkUnlimited_Click);
#if TALVGEN_CHART
    connect(chkChart, &QCheckBox::toggled, this, &frmIPNDZandrel::chkChart_Click);
#endif
    PktPer->installEventFilter(this);
    connect(m_recTypeGroup, &QButtonGroup::idToggled, this, [this](int index, bool selected) {
        if (selected)
            optRecType_Click(index);
    });
    connect(m_testTypeGroup, &QButtonGroup::idToggled, this, [this](int index, bool selected) {
        if (selected)
            optTestType_Click(index);
    });
    connect(lbIPNDfile, &ClickableLineEdit::activated, this, &frmIPNDZandrel::lbIPNDfile_Click);
    connect(txbFileName, &ClickableLineEdit::activated, this, &frmIPNDZandrel::txbFileName_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmIPNDZandrel::cmdClose_Click);
    connect(cmdStandard, &QPushButton::clicked, this, &frmIPNDZandrel::cmdStandard_Click);
    connect(cmdNoAdd, &QPushButton::clicked, this, &frmIPNDZandrel::cmdNoAdd_Click);
    connect(cmdLongAdd, &QPushButton::clicked, this, &frmIPNDZandrel::cmdLongAdd_Click);
    connect(cmdMinAdd, &QPushButton::clicked, this, &frmIPNDZandrel::cmdMinAdd_Click);
    connect(cmdMaxAdd, &QPushButton::clicked, this, &frmIPNDZandrel::cmdMaxAdd_Click);
    connect(cmdSend5, &QPushButton::clicked, this, &frmIPNDZandrel::cmdSend5_Click);
}

bool frmIPNDZandrel::eventFilter(QObject *watched, QEvent *event) {
    if (watched == PktPer && event->type() == QEvent::FocusOut)
        PktPer_LostFocus();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- start-up

void frmIPNDZandrel::Form_Load(const QString &commandLine) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    show();
    applyDevelopmentMarker();
    const ParsedCommandLine parsed = ParseCommandLine(commandLine);
    gStartupArgs = parsed.args;
    applyCommandLine(parsed);
    optTestType_Click(0);
    gPktRemaining = 10000;
    PktPer->setText(QString::number(gPktPeriod));
    PktNum->setText(QString::number(gPktRemaining));
    if (StartupLevel == QLatin1String("MEDIUM") && !gStartupArgs.DataFile.isEmpty())
        OpenDataFile(gStartupArgs.DataFile);
    lbFileType->setText(DataFileMode);
    // Bring the window to the top without moving, resizing or activating it.
    raise();
    show();
    if (StartupLevel == QLatin1String("MEDIUM") && gStartupArgs.Unlimited)
        RunControl_Click();
    gMOLIRecords = cannedMoliRecords();
    optRecType_Click(0);
    Timer1->start();
}

void frmIPNDZandrel::applyDevelopmentMarker() {
    if (!FileExists(m_platform.developmentMarker, 0))
        return;
    const QString folder = m_platform.developmentFolder;
    if (!QDir::setCurrent(fileSystemPath(folder))) {
        LogMessage(QStringLiteral("Unable to change the current folder to ") + folder);
        return;
    }
    m_platform.messageBox(QStringLiteral("Current directory changed to ") + folder,
                          applicationTitle());
}

void frmIPNDZandrel::applyCommandLine(const ParsedCommandLine &parsed) {
    const StartupArgs &args = parsed.args;
    for (const QString &problem : parsed.problems)
        LogMessage(problem);
    const auto orDefault = [](const QString &value, const char *fallback) {
        return value.isEmpty() ? QString::fromLatin1(fallback) : value;
    };
    txbAddress[0]->setText(orDefault(args.Type4Address, "192.168.0.43"));
    txbPort[0]->setText(orDefault(args.Type4Port, "7005"));
    chkEnable[0]->setChecked(args.Type4Enable);
    txbAddress[1]->setText(orDefault(args.Type5Address, "192.168.0.43"));
    txbPort[1]->setText(orDefault(args.Type5Port, "7018"));
    chkEnable[1]->setChecked(args.Type5Enable);
    if (args.Period != 0) {
        if (args.Period < SHRT_MIN || args.Period > SHRT_MAX)
            LogMessage(QStringLiteral("Command line: Period token \"%1\" is outside the range "
                                      "-32768 to 32767; Period stays %2")
                           .arg(args.Period)
                           .arg(gPktPeriod));
        else
            gPktPeriod = static_cast<qint16>(args.Period);
    }
    setWindowTitle(literalTitle(args.TitlePrefix + applicationTitle()));
    if (args.Unlimited) {
        chkUnlimited->setChecked(true);
        lbNoPackets->setEnabled(false);
        PktNum->setEnabled(false);
    }
}

void frmIPNDZandrel::closeEvent(QCloseEvent *event) {
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void frmIPNDZandrel::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    Timer1->stop();
    m_frmTCP1.reset();
    m_frmTCP2.reset();
    emit unloaded();
}

Type4Link &frmIPNDZandrel::frmTCP1() {
    if (!m_frmTCP1) {
        m_frmTCP1 = std::make_unique<Type4Link>(*this);
        watchLink(*m_frmTCP1, 0);
    }
    return *m_frmTCP1;
}

Type5Link &frmIPNDZandrel::frmTCP2() {
    if (!m_frmTCP2) {
        m_frmTCP2 = std::make_unique<Type5Link>(*this);
        watchLink(*m_frmTCP2, 1);
    }
    return *m_frmTCP2;
}

void frmIPNDZandrel::watchLink(TcpLink &link, int row) {
    connect(&link, &TcpLink::responseMeasured, this, &frmIPNDZandrel::showResponseStatistics);
#if TALVGEN_CHART
    connect(&link, &TcpLink::responseMeasured, responseChart,
            [this, row](qint64 usec) { responseChart->addResponse(row, usec); });
#else
    Q_UNUSED(row)
#endif
}

QString frmIPNDZandrel::responseStatistics() const {
    QStringList parts;
    ResponseStats together;
    if (m_frmTCP1) {
        parts << m_frmTCP1->responseStats().summary(QStringLiteral("Type 4"));
        together.merge(m_frmTCP1->responseStats());
    }
    if (m_frmTCP2) {
        parts << m_frmTCP2->responseStats().summary(QStringLiteral("Type 5"));
        together.merge(m_frmTCP2->responseStats());
    }
    if (m_frmTCP1 && m_frmTCP2)
        parts << together.summary(QStringLiteral("All"));
    return parts.join(QLatin1String("; "));
}

void frmIPNDZandrel::showResponseStatistics() {
    responseStatus->setText(responseStatistics());
}

#if TALVGEN_CHART
void frmIPNDZandrel::chkChart_Click(bool shown) {
    if (responseChart->isHidden() != shown)
        return;
    responseChart->setVisible(shown);
    if (isMaximized() || isFullScreen())
        return;
    // The screen may not give all of the chart's width: hidden, the window
    // goes back to the width it had, not to a width less what it asked for.
    if (shown)
        m_widthWithoutChart = width();
    resize(shown ? width() + kChartWidthPx : m_widthWithoutChart, height());
}
#endif

// ---------------------------------------------------------------- options panel

void frmIPNDZandrel::optRecType_Click(int index) {
    if (index == 0) {
        frmTest4->setVisible(true);
        frmTest5->setVisible(false);
    } else if (index == 1) {
        frmTest5->setVisible(true);
        frmTest4->setVisible(false);
    }
}

void frmIPNDZandrel::optTestType_Click(int index) {
    const bool enabled = index != 0;
    for (QWidget *option : std::initializer_list<QWidget *>{Label5, Label4, chkTServer, Check1,
                                                            Label2, Text1, cmbPSAP, Text3})
        option->setEnabled(enabled);
}

// ---------------------------------------------------------------- log and fields

void frmIPNDZandrel::showLogText(const QString &text) {
    // The log text separates messages with CR LF; the box shows one line per message.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    txbLog->setPlainText(shown);
}

QString frmIPNDZandrel::txbAddressText(int index) const {
    return txbAddress.at(index)->text();
}

QString frmIPNDZandrel::txbPortText(int index) const {
    return txbPort.at(index)->text();
}

void frmIPNDZandrel::setTxbMessage(const QString &text) {
    txbMessage->setPlainText(text);
}

void frmIPNDZandrel::setLbProcessed(const QString &text) {
    lbProcessed->setText(text);
}

void frmIPNDZandrel::setLbLastDelayed(const QString &text) {
    lbLastDelayed->setText(text);
}

void frmIPNDZandrel::setTxbDelayedCt(const QString &text) {
    txbDelayedCt->setText(text);
}

QDateTime frmIPNDZandrel::currentDateTime() const {
    return m_platform.clock();
}

void frmIPNDZandrel::cmdClose_Click() {
    frmTCP1().closeSocketIfOpen();
}
