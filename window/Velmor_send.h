#pragma once

#include "app/KeyRecordFile.h"
#include "app/StampedLogFile.h"
#include "gateway/Gateway.h"
#include "gateway/base/Text.h"
#include "gateway/link/Connection.h"
#include "gateway/link/LinkRecovery.h"
#include "gateway/platform/SocketPlatform.h"
#include "monitor/MonitorEndpoint.h"
#include "window/ApplicationEvents.h"
#include "window/BoundedLogPane.h"
#include "window/HandOverQueue.h"
#include "window/NotificationArea.h"
#include "window/OperatorOptions.h"
#include "window/SerialWorker.h"

#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

class QFrame;
class QPlainTextEdit;
class QPushButton;
class QSocketNotifier;

namespace gateway {
class ReopenRequest;
}

namespace window {
class ErrorBox;
}

// The operator window. It creates, owns and destroys every other object of the program: the
// gateway (request listener, lock-system link and the handler joining them), the panes, the
// button and the notification icon. The objects keep their stored names and are public, since
// handlers, start-up and the tests reach them; the handlers are thin entry points into the
// gateway, the notification area and the test send. The program's one window is the one
// window::runOperatorProgram owns: nothing reaches it through a global.
class TForm7 : public QWidget
{
    Q_OBJECT

public:
    // Builds the window and its objects: the gateway with its link (not connected yet) and
    // listener (not listening yet), the panels, panes and button, the notification icon and
    // the minimise event; then the listener starts and requests are served from there on. Throws
    // the start failure (EIdCouldNotBindSocket when the port is taken, or the log file or key
    // record that cannot be opened); the icon goes again with the half-built window.
    TForm7(const window::OperatorOptions& options, window::ErrorBox& errorBox);
    // Shuts down (shutDown) if that has not happened yet.
    ~TForm7() override;

private:
    // Made first and gone last: the gateway's threads log through the hand-over queue.
    window::ErrorBox& m_errorBox;
    const QString m_title;
    // How often the link is connected again; zero: once, at start.
    const std::chrono::seconds m_reconnect;
    // "host:port" of the lock system, as the notification icon names it.
    const std::string m_linkName;
    window::HandOverQueue m_handOver;
    // Before the gateway, whose threads write to them until the gateway is gone.
    std::optional<app::StampedLogFile> m_logFile;
    std::optional<app::KeyRecordFile> m_keyRecord;
    // Held from a line's record to its hand-over, so that the file and the pane have the lines
    // of several threads in the same order.
    std::mutex m_logOrder;
    gateway::Gateway m_gateway;
    // After the gateway: stopped before the link is closed.
    std::optional<gateway::LinkRecovery> m_recovery;
    // After the gateway, which it reads until it is shut down.
    std::optional<monitor::MonitorEndpoint> m_monitoring;

public:
    // The left area, holding Memo1 and Memo2.
    QFrame* Panel1 = nullptr;
    // The right area, holding Button4.
    QFrame* Panel2 = nullptr;
    // The log pane: the latest log lines of the program (as many as the options keep).
    QPlainTextEdit* Memo1 = nullptr;
    // "Send": the test send.
    QPushButton* Button4 = nullptr;
    // The lock-system link (the gateway's).
    gateway::LockLink& IdTCPClient1;
    // The request listener (the gateway's). The XML document that reads key requests (XML1)
    // needs no object of its own: the reading sets the XML library up itself.
    gateway::Listener& IdTCPServer1;
    // The operator's own notes pane: the program never writes or reads it.
    QPlainTextEdit* Memo2 = nullptr;
    // The notification icon; a double-click on it shows the window.
    std::unique_ptr<QSystemTrayIcon> TrayIcon1;
    // Delivers the application's minimise event to the window.
    window::ApplicationEvents* ApplicationEvents1 = nullptr;

    // The request text taken by the latest handler run on any connection.
    gateway::Text data() const;

    // Connects the link, blocking until the attempt ends or abandon (a stop request) is
    // raised; throws its failure (EAbort when abandoned). Set to reconnect, it starts the
    // connecting in the background instead, and throws nothing.
    void FormCreate(const gateway::WakeSignal* abandon = nullptr);
    // One handler run on a requesting connection, on that connection's thread: the window's
    // listener runs it for every requesting connection, and it runs the gateway's handler.
    void IdTCPServer1Execute(gateway::Connection& connection);
    // The test send. Its exchange runs on the link worker, so the window never waits for the
    // lock system; the summary line, the reply and the result code, or the failure for the
    // error display, come back to the window's thread in order.
    void Button4Click();
    // Shows the window (minimised when it was hidden by minimising) and brings it to the top.
    void TrayIcon1DblClick();
    // Hides the window to the notification icon.
    void ApplicationEvents1Minimize();

    // Appends a log line to Memo1, and to the log file where one is kept (stamped, written
    // readably). Callable from any thread: the file is written on the calling thread, then the
    // text is handed to the window's thread without waiting for it; lines the pane would not
    // keep are dropped before they reach it.
    void log(gateway::TextView line);
    // Appends several log lines at once, in order: a request's lines, one write to the log file.
    void logLines(std::span<const gateway::Text> lines);
    // Reopens the log file and the key record (log rotation has moved them away) and logs that
    // it did, or why it could not; without either file nothing happens.
    void reopenFiles();
    // From now on each raise of the request reopens the files, on the window's thread. The
    // request outlives the window.
    void watchReopenRequests(gateway::ReopenRequest& request);
    // The error display, captioned with the application title.
    void showError(const std::exception_ptr& failure);
    // Shown minimised, with the taskbar button, without taking the focus.
    void showMinimizedWithoutActivation();
    // Hidden, icon removed, listener shut down (bounded), a pending test exchange ended, link
    // closed: in that order. Once is enough; the destructor does it too.
    void shutDown();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    // The line to the pane alone.
    void showLogLine(QString line);
    // The notification icon's tooltip, with the link's state as it is now.
    void showLinkState();

    window::NotificationArea m_notificationArea;
    // Memo1 holding its latest log lines; made with Memo1.
    std::optional<window::BoundedLogPane> m_logPane;
    const std::size_t m_logLines;
    std::unique_ptr<QSocketNotifier> m_reopenNotifier;
    // Runs the test sends' exchanges one after another; ended before the link is closed.
    window::SerialWorker m_linkWorker;
    // Looks at the link's state once a second, for the notification icon.
    QTimer m_linkStateTimer;
    std::optional<bool> m_linkShownUp;
};
