// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commandline.h"
#include "linkhost.h"
#include "log.h"
#include "platform.h"

#include <QMainWindow>
#include <array>
#include <memory>
#include <optional>

class ClickableLineEdit;
class IpndDataFile;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class ResponseChart;
class TcpLink;
class Type4Link;
class Type5Link;
class XmlLineStore;
namespace Ui {
class frmIPNDZandrel;
}

// Program constants: fixed values, not options.
inline const QString DataFileMode = QStringLiteral("RAWLOG");
inline const QString StartupLevel = QStringLiteral("BASIC");
inline const QString kDevelopmentMarker = QStringLiteral("c:\\talvsys\\development.txt");
inline const QString kDevelopmentFolder = QStringLiteral("e:\\BASE\\PYRN\\TALV_000_Generator");

// Collaborators that stand for platform pieces; tests replace them.
struct WindowPlatform {
    std::shared_ptr<FileDialog> fileDialog = std::make_shared<QtFileDialog>();
    MessageBox messageBox;            // defaults to a QMessageBox
    std::function<QDateTime()> clock; // defaults to the local clock
    QString developmentMarker = kDevelopmentMarker;
    QString developmentFolder = kDevelopmentFolder;
};

// The main window: every operator setting, the shared run state, the packet
// cycle and the producers of packets. The two links are created on first use.
class frmIPNDZandrel : public QMainWindow, public LinkHost {
    Q_OBJECT
public:
    using Platform = WindowPlatform;

    explicit frmIPNDZandrel(Platform platform = {}, QWidget *parent = nullptr);
    ~frmIPNDZandrel() override;

    // Start-up with the command line (without the program name).
    void Form_Load(const QString &commandLine);
    void Form_Unload();

    static QString applicationTitle();

    // The links, created on first use.
    Type4Link &frmTCP1();
    Type5Link &frmTCP2();
    bool hasLinks() const { return m_frmTCP1 || m_frmTCP2; }

    Log &log() { return m_log; }
    // The log text as the log box holds it (CR LF line ends, at most 20000 characters).
    const QString &logText() const { return m_log.shownText(); }

    // LinkHost
    void LogMessage(const QString &message) override { m_log.LogMessage(message); }
    QString txbAddressText(int index) const override;
    QString txbPortText(int index) const override;
    void setTxbMessage(const QString &text) override;
    void setLbProcessed(const QString &text) override;
    void setLbLastDelayed(const QString &text) override;
    void setTxbDelayedCt(const QString &text) override;
    qint32 &gProcessedCount() override { return m_gProcessedCount; }
    QDateTime currentDateTime() const override;

    // Handlers, named as the operator's controls and events.
    void RunControl_Click();
    void Timer1_Timer();
    void PktPer_LostFocus();
    // Run on every change of the control's state, whatever made it.
    void chkUnlimited_Click();
    void optRecType_Click(int index);
    void optTestType_Click(int index);
    void lbIPNDfile_Click();
    void txbFileName_Click();
    void cmdClose_Click();
    void cmdStandard_Click();
    void cmdNoAdd_Click();
    void cmdLongAdd_Click();
    void cmdMinAdd_Click();
    void cmdMaxAdd_Click();
    void cmdSend5_Click();

    // Public operations of the window.
    QString OpenDialogBox(const QString &title, QString &source, const QString &filterText);
    void SelectDataFile();
    void OpenDataFile(const QString &name);
    void OpenDataFileDialog2();
    void OpenXMLFile(const QString &fileName);
    void SendType5Packet();

    IpndDataFile &ipndDataFile() { return *m_ipnd; }
    // The form the cycle reads the data file in: DataFileMode ("RAWLOG") unless
    // talvgen-cli chose "MULTIPKT"; the window itself never changes it.
    const QString &dataFileForm() const { return m_dataFileForm; }
    void setDataFileForm(const QString &form);
    // The socket row (0 or 1) the last packet stored for link 1 is addressed to.
    int link1Row() const { return m_link1Row; }
    XmlLineStore &xmlLineStore() { return *m_xml; }

    // Shared run state.
    bool gRunning = false;
    qint16 gTickCount = 0;
    qint16 gPktPeriod = kDefaultPeriodSeconds;
    qint16 gPktRemaining = 10000;
    bool gPeriodSent = false;
    StartupArgs gStartupArgs;
    std::array<QByteArray, 8> gMOLIRecords;

    // Controls, under the names the operator's design gives them. The form
    // (frmipndzandrel.ui) holds them; Timer1, the status bar's responseStatus and
    // chkChart, and responseChart are built in code.
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    std::array<QLineEdit *, 2> txbPort{};
    std::array<QLineEdit *, 2> txbAddress{};
    std::array<QCheckBox *, 2> chkEnable{};
    std::array<QRadioButton *, 2> optRecType{};
    QGroupBox *frmeTest = nullptr;
    std::array<QRadioButton *, 2> optTestType{};
    QLineEdit *txbTermID = nullptr;
    QPushButton *cmdClose = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *cmbPSAP = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text3 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QCheckBox *chkTServer = nullptr;
    QCheckBox *Check1 = nullptr;
    QGroupBox *frmTest4 = nullptr;
    QCheckBox *chkMOLI = nullptr;
    std::array<QRadioButton *, 6> optMOLI{};
    QPushButton *cmdStandard = nullptr;
    QPushButton *cmdLongAdd = nullptr;
    QPushButton *cmdNoAdd = nullptr;
    QPushButton *cmdMinAdd = nullptr;
    QPushButton *cmdMaxAdd = nullptr;
    QGroupBox *frmTest5 = nullptr;
    ClickableLineEdit *txbFileName = nullptr;
    QPushButton *cmdSend5 = nullptr;
    QGroupBox *Frame7 = nullptr;
    QPushButton *RunControl = nullptr;
    QLabel *label22 = nullptr;
    QLineEdit *PktPer = nullptr;
    QLabel *lbNoPackets = nullptr;
    QLineEdit *PktNum = nullptr;
    QCheckBox *chkUnlimited = nullptr;
    QLabel *lbFileType = nullptr;
    QLabel *timerlabel = nullptr;
    ClickableLineEdit *lbIPNDfile = nullptr;
    QTimer *Timer1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *lbProcessed = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txbDelayedCt = nullptr;
    QLabel *lbLastDelayed = nullptr;
    QPushButton *cmdResetCt = nullptr;
    QPlainTextEdit *txbMessage = nullptr;
    QPlainTextEdit *txbLog = nullptr;
    QLabel *responseStatus = nullptr;
    QCheckBox *chkChart = nullptr; // shows the chart beside the log; unticked at start
    ResponseChart *responseChart = nullptr;

    // "Type 4: 37 responses, median 11.9 ms, ..." for each link and both together.
    QString responseStatistics() const;

signals:
    void unloaded();
    // A period boundary of a running cycle has passed (packet sent or not).
    void periodBoundary();
    // A Type 4 packet is in link 1's pending slot, from a canned button or the data file;
    // emitted before the line that shows it is logged.
    void type4PacketStored(bool fromDataFile);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void takeControlsFromForm();
    void connectHandlers();
    void applyDevelopmentMarker();
    void applyCommandLine(const ParsedCommandLine &parsed);
    void showLogText(const QString &text);
    void watchLink(TcpLink &link, int row);
#if TALVGEN_CHART
    void chkChart_Click(bool shown);
#endif
    void showResponseStatistics();

    // Packet cycle pieces.
    bool setLink1RemoteFromRow(int row);
    void sendOnePacket();
    void SendFileRecord();
    bool rowEnabled(int row) const;
    bool link1Closed();

    // Canned Type 4 packets.
    // unset: "MOLI Data" unticked; -1: no shape chosen
    std::optional<int> GetMOLIShape() const;
    void BuildType4Packet(const QByteArray &record);
    void sendCannedRecord(const QByteArray &record);

    std::unique_ptr<Ui::frmIPNDZandrel> m_ui;
    Platform m_platform;
    Log m_log;
    std::unique_ptr<IpndDataFile> m_ipnd;
    QString m_dataFileForm = DataFileMode;
    int m_link1Row = 0;
    std::unique_ptr<XmlLineStore> m_xml;
    std::unique_ptr<Type4Link> m_frmTCP1;
    std::unique_ptr<Type5Link> m_frmTCP2;
    QButtonGroup *m_recTypeGroup = nullptr;
    QButtonGroup *m_testTypeGroup = nullptr;
    qint32 m_gProcessedCount = 0;
    bool m_unloaded = false;
#if TALVGEN_CHART
    int m_widthWithoutChart = 0; // the window's width before the chart showed
#endif
};
