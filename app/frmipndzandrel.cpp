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
#include "ui_frmipndzandrel.h"
#include "xmllinestore.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

namespace {

constexpr int kTimer1IntervalMs = 1000;
constexpr int kChartWidthPx = 480; // the window grows by this when the chart shows
constexpr int kBoxFramePx = 16;    // a box's frame and margins, beyond its characters

// At most as wide as `digits` zeros, or as `text`, in the widget's own font.
void limitWidthTo(QWidget *widget, int digits) {
    widget->setMaximumWidth(widget->fontMetrics().horizontalAdvance(QLatin1Char('0')) * digits +
                            kBoxFramePx);
}
void limitWidthTo(QWidget *widget, const QString &text) {
    widget->setMaximumWidth(widget->fontMetrics().horizontalAdvance(text) + kBoxFramePx);
}

// Option buttons that code reaches by index: a group whose ids are the indexes.
template<std::size_t N>
QButtonGroup *indexedGroup(QObject *owner, const std::array<QRadioButton *, N> &buttons) {
    auto *group = new QButtonGroup(owner);
    for (std::size_t i = 0; i < N; ++i)
        group->addButton(buttons[i], int(i));
    return group;
}

// Qt reads "[*]" in a window title as the place of its modified mark and drops it;
// "[*][*]" is how a literal "[*]" is written.
QString literalTitle(QString title) {
    return title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

} // namespace

frmIPNDZandrel::frmIPNDZandrel(Platform platform, QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::frmIPNDZandrel>())
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

// The form holds the controls, their captions, layout, tab order, accessible
// names and buddies; what depends on the font or on Qt Charts is added here.
void frmIPNDZandrel::buildWindow() {
    m_ui->setupUi(this);
    takeControlsFromForm();
    // Widths that follow the font: set here, not in the form.
    const std::pair<QLineEdit *, int> digitBoxes[] = {
        {txbPort[0], 6}, {txbPort[1], 6}, {txbTermID, 5},   {Text3, 6},       {Text1, 4},
        {PktPer, 7},     {PktNum, 7},     {lbProcessed, 8}, {txbDelayedCt, 8}};
    for (const auto &[box, digits] : digitBoxes)
        limitWidthTo(box, digits);
    limitWidthTo(cmdResetCt, QStringLiteral("RR"));
    m_recTypeGroup = indexedGroup(this, optRecType);
    m_testTypeGroup = indexedGroup(this, optTestType);
    indexedGroup(this, optMOLI);

#if TALVGEN_CHART
    responseChart = new ResponseChart;
    responseChart->hide();
    m_ui->logRow->addWidget(responseChart, 1);
#endif
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
}

// The window's members point at the form's widgets: the cycle, the runner and the
// tests reach each control by its design name, and an indexed one by its index.
void frmIPNDZandrel::takeControlsFromForm() {
    const Ui::frmIPNDZandrel &ui = *m_ui;
    txbPort = {ui.txbPort0, ui.txbPort1};
    txbAddress = {ui.txbAddress0, ui.txbAddress1};
    chkEnable = {ui.chkEnable0, ui.chkEnable1};
    optRecType = {ui.optRecType0, ui.optRecType1};
    optTestType = {ui.optTestType0, ui.optTestType1};
    optMOLI = {ui.optMOLI0, ui.optMOLI1, ui.optMOLI2, ui.optMOLI3, ui.optMOLI4, ui.optMOLI5};
    Label6 = ui.Label6;
    Label7 = ui.Label7;
    frmeTest = ui.frmeTest;
    txbTermID = ui.txbTermID;
    cmdClose = ui.cmdClose;
    Label5 = ui.Label5;
    cmbPSAP = ui.cmbPSAP;
    Label4 = ui.Label4;
    Text3 = ui.Text3;
    Label2 = ui.Label2;
    Text1 = ui.Text1;
    chkTServer = ui.chkTServer;
    Check1 = ui.Check1;
    frmTest4 = ui.frmTest4;
    chkMOLI = ui.chkMOLI;
    cmdStandard = ui.cmdStandard;
    cmdLongAdd = ui.cmdLongAdd;
    cmdNoAdd = ui.cmdNoAdd;
    cmdMinAdd = ui.cmdMinAdd;
    cmdMaxAdd = ui.cmdMaxAdd;
    frmTest5 = ui.frmTest5;
    txbFileName = ui.txbFileName;
    cmdSend5 = ui.cmdSend5;
    Frame7 = ui.Frame7;
    RunControl = ui.RunControl;
    label22 = ui.label22;
    PktPer = ui.PktPer;
    lbNoPackets = ui.lbNoPackets;
    PktNum = ui.PktNum;
    chkUnlimited = ui.chkUnlimited;
    lbFileType = ui.lbFileType;
    timerlabel = ui.timerlabel;
    lbIPNDfile = ui.lbIPNDfile;
    Label1 = ui.Label1;
    lbProcessed = ui.lbProcessed;
    Label3 = ui.Label3;
    txbDelayedCt = ui.txbDelayedCt;
    lbLastDelayed = ui.lbLastDelayed;
    cmdResetCt = ui.cmdResetCt;
    txbMessage = ui.txbMessage;
    txbLog = ui.txbLog;
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
