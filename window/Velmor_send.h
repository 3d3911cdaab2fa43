#pragma once

#include "gateway/Connection.h"
#include "gateway/Gateway.h"
#include "gateway/KeyRequestHandler.h"
#include "gateway/Listener.h"
#include "gateway/LockLink.h"
#include "gateway/SocketPlatform.h"
#include "gateway/Text.h"
#include "window/ApplicationEvents.h"
#include "window/SerialWorker.h"
#include "window/XmlLibrary.h"

#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QWidget>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace window {
class ErrorBox;
}

// The operator window. It creates, owns and destroys every other object of the program; the
// objects keep their stored names and are public, since handlers and start-up reach them.
class TForm7 : public QWidget
{
    Q_OBJECT

private:
    // Keeps Form7 pointing at the window from the start of its construction until it is
    // gone; a construction that fails resets it as well.
    struct Registration
    {
        explicit Registration(TForm7* form);
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
        TForm7* const m_form;
    };
    Registration m_registration;

public:
    // Builds the window and its objects in stored order: panels, panes and button, the link
    // (not connected yet), the XML library, the listener, the notification icon and the
    // minimise event; then the listener starts and requests are served from there on.
    // Throws the start failure (EIdCouldNotBindSocket when the port is taken); the icon goes
    // again with the half-built window.
    TForm7(const gateway::GatewayOptions& options, window::ErrorBox& errorBox);
    // Shuts down (shutDown) if that has not happened yet.
    ~TForm7() override;

    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button4 = nullptr;
    gateway::LockLink IdTCPClient1;
    window::XmlLibrary XML1;
    gateway::Listener IdTCPServer1;
    QPlainTextEdit* Memo2 = nullptr;
    std::unique_ptr<QSystemTrayIcon> TrayIcon1;
    window::ApplicationEvents* ApplicationEvents1 = nullptr;

    // The request text taken by the latest handler run on any connection.
    gateway::Text data() const;

    // Connects the link, blocking until the attempt ends or abandon (a stop request) is
    // raised; throws its failure (EAbort when abandoned).
    void FormCreate(const gateway::WakeSignal* abandon = nullptr);
    // One handler run on a requesting connection, on that connection's thread.
    void IdTCPServer1Execute(gateway::Connection& connection);
    // The test send. Its exchange runs on the link worker, so the window never waits for the
    // lock system; the summary line, the reply and the result code, or the failure for the
    // error display, come back to the window's thread in order.
    void Button4Click();
    // Shows the window (minimised when it was hidden by minimising) and brings it to the top.
    void TrayIcon1DblClick();
    // Hides the window to the notification icon.
    void ApplicationEvents1Minimize();

    // Appends a log line to Memo1. Callable from any thread: the text is handed to the
    // window's thread and never waits for it.
    void log(gateway::TextView line);
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
    void addTrayIcon();
    // Runs the call later on the window's thread, after everything handed over before it.
    // Never waits for the window's thread.
    void postToWindow(std::function<void()> call);
    // Runs the handed-over calls in order, one at a time, so a modal box opened by one of
    // them still sees the later ones run after it.
    void runHandedOver();

    window::ErrorBox& m_errorBox;
    const QString m_title;
    gateway::KeyRequestHandler m_handler;
    // Runs the test sends' exchanges one after another; ended before the link is closed.
    window::SerialWorker m_linkWorker;
    // Handed-over calls travel in a queue under our own lock and the wake-up through a
    // descriptor the window's event loop watches: no Qt object is touched off the window's
    // thread, and the hand-over stays visible to ThreadSanitizer, which cannot see Qt's locks.
    std::mutex m_handOverMutex;
    std::deque<std::function<void()>> m_handOver;
    gateway::WakeSignal m_handOverWake;
    std::unique_ptr<QSocketNotifier> m_handOverNotifier;
};

// The one operator window: set while it is being built and while it exists, null otherwise.
extern TForm7* Form7;
