#include "window/Velmor_send.h"

#include "gateway/ServiceStatus.h"
#include "gateway/base/ReadableText.h"
#include "gateway/platform/LogFile.h"
#include "window/ApplicationIcon.h"
#include "window/ApplicationTitle.h"
#include "window/ErrorDisplay.h"

#include "monitor/GatewayRoutes.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include <string>
#include <vector>

namespace {

constexpr int clientWidth = 801;
constexpr int clientHeight = 437;
constexpr int rightPanelWidth = 249;
constexpr int lowerPaneHeight = 173;
// The panels' raised edge.
constexpr int bevelWidth = 1;
const QRect sendButtonPlace(16, 56, 75, 25);

QFrame* makePanel(QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(bevelWidth);
    return panel;
}

QPlainTextEdit* makePane(QWidget* parent)
{
    auto* pane = new QPlainTextEdit(parent);
    pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves the focus on, as in any dialog, instead of typing a tab character.
    pane->setTabChangesFocus(true);
    return pane;
}

} // namespace

namespace {

// How often the notification icon's tooltip looks at the link's state.
constexpr int linkStateRoundMs = 1000;

} // namespace

TForm7::TForm7(const window::OperatorOptions& options, window::ErrorBox& errorBox)
    : m_errorBox(errorBox),
      m_title(window::applicationTitle(QCoreApplication::applicationFilePath())),
      m_reconnect(options.reconnect),
      m_linkName(options.gateway.linkHost + ":" + std::to_string(options.gateway.linkPort)),
      // Log lines beyond those the pane keeps need not wait for it.
      m_handOver(options.logLines),
      m_gateway(
          options.gateway, [this](gateway::TextView line) { log(line); },
          [this](gateway::Connection& connection) { IdTCPServer1Execute(connection); }),
      IdTCPClient1(m_gateway.link()), IdTCPServer1(m_gateway.listener()), m_notificationArea(*this),
      m_logLines(options.logLines)
{
    buildControls();
    m_gateway.setLogLinesSink([this](std::span<const gateway::Text> lines) { logLines(lines); });
    if (!options.logFile.empty()) {
        // A line that cannot be written is told in the pane alone: the file is what fails.
        gateway::LogFileOptions fileOptions;
        fileOptions.keepMonths = options.keepMonths;
        m_logFile.emplace(
            options.logFile,
            [this](const std::string& line) { showLogLine(QString::fromStdString(line)); },
            std::move(fileOptions));
    }
    if (!options.keyRecord.empty()) {
        // A record that cannot be written is told in the log, where the operator looks.
        gateway::LogFileOptions fileOptions;
        fileOptions.keepMonths = options.keepMonths;
        m_keyRecord.emplace(
            options.keyRecord, [this](const std::string& line) { log(gateway::fromUtf8(line)); },
            std::move(fileOptions));
        m_gateway.setRecordSink(
            [this](const gateway::KeyRecord& record) { m_keyRecord->write(record); });
    }
    TrayIcon1 = m_notificationArea.addIcon(QString(), [this] { TrayIcon1DblClick(); });
    showLinkState();
    connect(&m_linkStateTimer, &QTimer::timeout, this, &TForm7::showLinkState);
    m_linkStateTimer.start(linkStateRoundMs);
    ApplicationEvents1 = new window::ApplicationEvents(this);
    connect(ApplicationEvents1, &window::ApplicationEvents::minimized, this,
            &TForm7::ApplicationEvents1Minimize);
    m_gateway.startListener();
    if (!options.monitoring.listen.empty()) {
        // Said in the log, where the operator looks; a monitoring address that cannot be had
        // never keeps the front desks from their keys.
        m_monitoring.emplace(
            options.monitoring,
            monitor::gatewayRoutes(
                m_gateway, {"velmor_snd", m_linkName, static_cast<int>(m_reconnect.count())}),
            [this](const std::string& line) { log(gateway::fromUtf8("monitoring: " + line)); });
        log(gateway::fromUtf8(monitor::startMonitoring(*m_monitoring)));
    }
}

void TForm7::buildControls()
{
    setWindowTitle(QStringLiteral("Form7"));
    setWindowIcon(window::applicationIcon());
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);

    Panel1 = makePanel(this);
    Memo1 = makePane(Panel1);
    m_logPane.emplace(*Memo1, m_logLines);
    Memo2 = makePane(Panel1);
    Memo2->setFixedHeight(lowerPaneHeight);
    // The panel's contents already sit inside its edge.
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    panel1Layout->setSpacing(0);
    panel1Layout->addWidget(Memo1);
    panel1Layout->addWidget(Memo2);

    Panel2 = makePanel(this);
    Panel2->setFixedWidth(rightPanelWidth);
    Button4 = new QPushButton(QStringLiteral("Send"), Panel2);
    Button4->setGeometry(sendButtonPlace);
    connect(Button4, &QPushButton::clicked, this, &TForm7::Button4Click);

    auto* formLayout = new QHBoxLayout(this);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(0);
    formLayout->addWidget(Panel1);
    formLayout->addWidget(Panel2);

    setTabOrder(Memo1, Memo2);
    setTabOrder(Memo2, Button4);
    resize(clientWidth, clientHeight);
}

TForm7::~TForm7()
{
    shutDown();
}

void TForm7::shutDown()
{
    hide();
    m_linkStateTimer.stop();
    m_reopenNotifier.reset();
    TrayIcon1.reset();
    // The listener stops first; a test exchange still running is ended before the gateway
    // closes the link.
    m_gateway.stopServing();
    m_linkWorker.stop();
    if (m_recovery) {
        m_recovery->stop();
    }
    m_gateway.shutdown();
    if (m_monitoring) {
        m_monitoring->shutdown();
    }
}

gateway::Text TForm7::data() const
{
    return m_gateway.handler().latestRequestText();
}

void TForm7::FormCreate(const gateway::WakeSignal* abandon)
{
    if (m_reconnect.count() > 0) {
        // The link's own lines (connected, lost, connected again) go to the log, where the
        // operator looks.
        m_recovery.emplace(IdTCPClient1, m_linkName, m_reconnect,
                           [this](const std::string& line) { log(gateway::fromUtf8(line)); });
        m_recovery->reconnect();
        return;
    }
    m_gateway.connectLink(abandon);
    showLinkState();
}

void TForm7::showLinkState()
{
    const bool up = IdTCPClient1.isUp();
    if (!TrayIcon1 || m_linkShownUp == up) {
        return;
    }
    m_linkShownUp = up;
    TrayIcon1->setToolTip(window::trayToolTip(
        m_title, QString::fromStdString(gateway::linkStateText(m_linkName, up))));
}

void TForm7::IdTCPServer1Execute(gateway::Connection& connection)
{
    m_gateway.handler().run(connection);
}

void TForm7::Button4Click()
{
    m_linkWorker.post([this] {
        try {
            m_gateway.sendTestCommand();
        } catch (...) {
            m_handOver.post([this, failure = std::current_exception()] { showError(failure); });
        }
    });
}

void TForm7::TrayIcon1DblClick()
{
    m_notificationArea.bringBack();
}

void TForm7::ApplicationEvents1Minimize()
{
    m_notificationArea.hideToIcon();
}

void TForm7::showMinimizedWithoutActivation()
{
    m_notificationArea.showMinimizedWithoutActivation();
}

void TForm7::log(gateway::TextView line)
{
    QString text = QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
    std::lock_guard order(m_logOrder);
    if (m_logFile) {
        // Readably, as velmor_sndd writes its file: control characters named, so each log line
        // stays one line of the file.
        m_logFile->write(gateway::readableText(line));
    }
    showLogLine(std::move(text));
}

void TForm7::logLines(std::span<const gateway::Text> lines)
{
    std::lock_guard order(m_logOrder);
    if (m_logFile) {
        std::vector<std::string> texts;
        texts.reserve(lines.size());
        for (const gateway::Text& line : lines) {
            texts.push_back(gateway::readableText(line));
        }
        m_logFile->write(texts);
    }
    for (const gateway::Text& line : lines) {
        showLogLine(QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size())));
    }
}

void TForm7::showLogLine(QString line)
{
    m_handOver.postDroppable([this, line = std::move(line)] { m_logPane->append(line); });
}

void TForm7::reopenFiles()
{
    const auto reopened = [this](const std::string& what, const std::string& path,
                                 const std::string& reason) {
        log(gateway::fromUtf8(reason.empty()
                                  ? "reopened the " + what + " " + path
                                  : "cannot reopen the " + what + " " + path + ": " + reason));
    };
    if (m_logFile) {
        reopened("log file", m_logFile->path(), m_logFile->reopen());
    }
    if (m_keyRecord) {
        reopened("key record", m_keyRecord->path(), m_keyRecord->reopen());
    }
}

void TForm7::watchReopenRequests(gateway::ReopenRequest& request)
{
    m_reopenNotifier =
        std::make_unique<QSocketNotifier>(request.signal().handle(), QSocketNotifier::Read);
    connect(m_reopenNotifier.get(), &QSocketNotifier::activated, this, [this, &request] {
        // Lowered first: a signal that comes while the files are reopened raises it again.
        request.signal().clear();
        reopenFiles();
    });
}

void TForm7::showError(const std::exception_ptr& failure)
{
    window::showErrorDisplay(m_errorBox, m_title, failure);
}

void TForm7::changeEvent(QEvent* event)
{
    // State changes of a window that is not shown (before start-up shows it, or while it is
    // hidden and the window system withdraws it) are no operator's minimise or restore.
    if (event->type() == QEvent::WindowStateChange && isVisible()) {
        if (isMinimized()) {
            ApplicationEvents1->minimize();
        } else {
            ApplicationEvents1->restored();
        }
    }
    QWidget::changeEvent(event);
}

void TForm7::closeEvent(QCloseEvent* event)
{
    // No confirmation: closing the window ends the program.
    event->accept();
    QCoreApplication::quit();
}
