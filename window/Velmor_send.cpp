#include "window/Velmor_send.h"

#include "gateway/EncoderLine.h"
#include "gateway/ResultCode.h"
#include "window/ApplicationIcon.h"
#include "window/ApplicationTitle.h"
#include "window/ErrorDisplay.h"
#include "window/LogAppend.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm7* Form7 = nullptr;

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

TForm7::Registration::Registration(TForm7* form) : m_form(form)
{
    Form7 = form;
}

TForm7::Registration::~Registration()
{
    if (Form7 == m_form) {
        Form7 = nullptr;
    }
}

TForm7::TForm7(const gateway::GatewayOptions& options, window::ErrorBox& errorBox)
    : m_registration(this), IdTCPClient1(options.linkHost, options.linkPort,
                                         [this](gateway::TextView line) { log(line); }),
      IdTCPServer1(
          options.listenerPort,
          [this](gateway::Connection& connection) { IdTCPServer1Execute(connection); },
          options.terminateWaitMs),
      m_errorBox(errorBox),
      m_title(window::applicationTitle(QCoreApplication::applicationFilePath())),
      m_handler(
          IdTCPClient1, [this](gateway::TextView line) { log(line); }, options.replyWaitMs)
{
    m_handOverNotifier =
        std::make_unique<QSocketNotifier>(m_handOverWake.handle(), QSocketNotifier::Read);
    connect(m_handOverNotifier.get(), &QSocketNotifier::activated, this, &TForm7::runHandedOver);
    buildControls();
    addTrayIcon();
    ApplicationEvents1 = new window::ApplicationEvents(this);
    connect(ApplicationEvents1, &window::ApplicationEvents::minimized, this,
            &TForm7::ApplicationEvents1Minimize);

    // Connection threads still busy when shutdown has waited long enough are freed by
    // ending their link exchanges.
    IdTCPServer1.setOverdueAction([this] { IdTCPClient1.cancel(); });
    IdTCPServer1.start();
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

void TForm7::addTrayIcon()
{
    TrayIcon1 = std::make_unique<QSystemTrayIcon>(window::applicationIcon());
    TrayIcon1->setToolTip(window::trayToolTip(m_title));
    connect(TrayIcon1.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    TrayIcon1DblClick();
                }
            });
    // Without a notification area the icon is added once one appears.
    TrayIcon1->show();
}

TForm7::~TForm7()
{
    shutDown();
    // Lines and failures handed over by now have nowhere to go.
    m_handOverNotifier.reset();
    std::lock_guard lock(m_handOverMutex);
    m_handOver.clear();
}

void TForm7::shutDown()
{
    hide();
    TrayIcon1.reset();
    IdTCPServer1.shutdown();
    IdTCPClient1.cancel();
    m_linkWorker.stop();
    IdTCPClient1.close();
}

gateway::Text TForm7::data() const
{
    return m_handler.data();
}

void TForm7::FormCreate(const gateway::WakeSignal* abandon)
{
    IdTCPClient1.connect(abandon);
}

void TForm7::IdTCPServer1Execute(gateway::Connection& connection)
{
    m_handler.run(connection);
}

void TForm7::Button4Click()
{
    m_linkWorker.post([this] {
        const gateway::TestCommand command = gateway::testCommand();
        log(command.summary);
        try {
            const int waitMs = m_handler.replyWaitMs();
            const auto sendBy = gateway::LockLink::Clock::now() + std::chrono::milliseconds(waitMs);
            const gateway::LinkExchange exchange =
                IdTCPClient1.exchange(command.line, waitMs, sendBy);
            if (exchange.outcome != gateway::LinkExchange::Outcome::Replied) {
                log(u"Test command not sent to the lock system: the link was not free in time");
                return;
            }
            log(exchange.reply);
            log(gateway::resultCode(exchange.reply));
        } catch (...) {
            postToWindow([this, failure = std::current_exception()] { showError(failure); });
        }
    });
}

void TForm7::TrayIcon1DblClick()
{
    // Only minimising hides the window.
    if (isHidden()) {
        showMinimizedWithoutActivation();
    }
    raise();
    // X11 window managers restore a window that is made active; a minimised one is to stay
    // minimised.
    if (!isMinimized()) {
        activateWindow();
    }
}

void TForm7::ApplicationEvents1Minimize()
{
    hide();
}

void TForm7::showMinimizedWithoutActivation()
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    showMinimized();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void TForm7::log(gateway::TextView line)
{
    QString text = QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
    postToWindow([this, text = std::move(text)] { window::appendLogLine(*Memo1, text); });
}

void TForm7::showError(const std::exception_ptr& failure)
{
    window::showErrorDisplay(m_errorBox, m_title, failure);
}

void TForm7::postToWindow(std::function<void()> call)
{
    {
        std::lock_guard lock(m_handOverMutex);
        m_handOver.push_back(std::move(call));
    }
    m_handOverWake.raise();
}

void TForm7::runHandedOver()
{
    // Lowered before the queue is read: a call handed over from here on raises it again.
    m_handOverWake.clear();
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_handOverMutex);
            if (m_handOver.empty()) {
                return;
            }
            call = std::move(m_handOver.front());
            m_handOver.pop_front();
        }
        call();
    }
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
