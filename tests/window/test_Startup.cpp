#include "MainWindows.h"
#include "PaneLines.h"
#include "RecordingErrorBox.h"
#include "gateway/ServiceStatus.h"
#include "gateway/link/Listener.h"
#include "support/FakeLockServer.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/SocketPair.h"
#include "support/TestClient.h"
#include "window/ApplicationTitle.h"
#include "window/Startup.h"
#include "window/StopSignals.h"
#include "window/Velmor_send.h"

#include <QFileInfo>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

namespace {

gateway::GatewayOptions optionsFor(std::uint16_t linkPort)
{
    gateway::GatewayOptions options = testGatewayOptions(linkPort);
    options.terminateWaitMs = 2000;
    return options;
}

// A loopback port that refuses connections: bound, never listening.
class RefusingPort
{
public:
    RefusingPort() : m_socket(loopbackSocket()) { m_port = gateway::localPort(m_socket); }
    std::uint16_t port() const { return m_port; }

private:
    gateway::Socket m_socket;
    std::uint16_t m_port = 0;
};

QString title()
{
    return window::applicationTitle(QCoreApplication::applicationFilePath());
}

// The notification icon's tooltip for the link to this port in the given state.
QString linkToolTip(std::uint16_t port, bool up)
{
    return window::trayToolTip(title(), QString::fromStdString(gateway::linkStateText(
                                            "127.0.0.1:" + std::to_string(port), up)));
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void layout()
    {
        RecordingErrorBox box;
        TForm7 form(optionsFor(1), box);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QCOMPARE(form.windowTitle(), QStringLiteral("Form7"));
        QCOMPARE(form.size(), QSize(801, 437));
        QCOMPARE(form.Panel1->geometry(), QRect(0, 0, 552, 437));
        QCOMPARE(form.Panel2->geometry(), QRect(552, 0, 249, 437));
        QCOMPARE(form.Memo1->geometry(), QRect(1, 1, 550, 262));
        QCOMPARE(form.Memo2->geometry(), QRect(1, 263, 550, 173));
        QCOMPARE(form.Button4->geometry(), QRect(16, 56, 75, 25));
        QCOMPARE(form.Button4->text(), QStringLiteral("Send"));
        QCOMPARE(form.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(form.font().pixelSize(), 11);
        for (QFrame* panel : {form.Panel1, form.Panel2}) {
            QCOMPARE(panel->frameShape(), QFrame::Panel);
            QCOMPARE(panel->frameShadow(), QFrame::Raised);
            QCOMPARE(panel->lineWidth(), 1);
        }
        QVERIFY(!form.Memo1->isReadOnly());
        QVERIFY(form.Memo1->toPlainText().isEmpty());
        QVERIFY(form.Memo2->toPlainText().isEmpty());

        form.resize(1000, 600);
        QTRY_COMPARE(form.Panel2->geometry(), QRect(751, 0, 249, 600));
        QCOMPARE(form.Panel1->geometry(), QRect(0, 0, 751, 600));
        QCOMPARE(form.Memo1->geometry(), QRect(1, 1, 749, 425));
        QCOMPARE(form.Memo2->geometry(), QRect(1, 426, 749, 173));
        QCOMPARE(form.Button4->geometry(), QRect(16, 56, 75, 25));

        form.Memo1->setFocus();
        QTest::keyClick(form.Memo1, Qt::Key_Tab);
        QTRY_VERIFY(form.Memo2->hasFocus());
        QTest::keyClick(form.Memo2, Qt::Key_Tab);
        QTRY_VERIFY(form.Button4->hasFocus());
    }

    void startsWithTheLinkConnected()
    {
        FakeLockServer server;
        RecordingErrorBox box;
        std::unique_ptr<TForm7> form = window::createMainWindow(optionsFor(server.port()), box);
        QVERIFY(form);
        QCOMPARE(mainWindows(), QList<TForm7*>{form.get()});
        QVERIFY(box.shown.empty());
        QVERIFY(form->IdTCPServer1.isActive());
        QVERIFY(form->IdTCPClient1.isConnected());
        QVERIFY(form->TrayIcon1->isVisible());
        QCOMPARE(form->TrayIcon1->toolTip(), linkToolTip(server.port(), true));
        QVERIFY(!form->isVisible());

        form.reset();
        QVERIFY(mainWindows().isEmpty());
    }

    // Set to reconnect, the window connects as velmor_sndd does: no box when the lock system is
    // not there, the link in the background once it is, and again after a loss; the
    // notification icon tells the state as it changes.
    void setToReconnectTheLinkComesInTheBackground()
    {
        std::uint16_t port = 0;
        {
            FakeLockServer reserved; // a free port, then nothing listening on it
            port = reserved.port();
        }
        window::OperatorOptions options(optionsFor(port));
        options.reconnect = std::chrono::seconds(1);
        RecordingErrorBox box;
        std::unique_ptr<TForm7> form = window::createMainWindow(options, box);
        QVERIFY(form);
        QVERIFY(box.shown.empty());
        QCOMPARE(form->TrayIcon1->toolTip(), linkToolTip(port, false));

        {
            FakeLockServer server(
                [](const std::string&) {
                    return std::optional<std::string>(FakeLockServer::replyWithCode("001"));
                },
                port);
            QVERIFY(server.waitForPeer());
            QTRY_COMPARE(form->TrayIcon1->toolTip(), linkToolTip(port, true));
            // The link's own lines go to the log.
            const QString connected =
                QStringLiteral("connected to the lock system at 127.0.0.1:%1").arg(port);
            QTRY_VERIFY(paneLines(*form->Memo1).join('\n').contains(connected));
            TestClient client(form->IdTCPServer1.port());
            client.send(stayRequest);
            QCOMPARE(client.readLine(), successAnswer);
        }
        QTRY_COMPARE(form->TrayIcon1->toolTip(), linkToolTip(port, false));
    }

    // The box comes while the window is not shown yet, with the icon there and the listener
    // already serving; afterwards the program goes on without a link.
    void failedConnectIsShownAndServingGoesOn()
    {
        RefusingPort refusing;
        RecordingErrorBox box;
        bool iconWhileBoxOpen = false;
        bool shownWhileBoxOpen = true;
        bool servedWhileBoxOpen = false;
        box.onShow = [&] {
            TForm7* form = mainWindow();
            QVERIFY(form);
            iconWhileBoxOpen = form->TrayIcon1 && form->TrayIcon1->isVisible();
            shownWhileBoxOpen = form->isVisible();
            TestClient client(form->IdTCPServer1.port());
            client.send(stayRequest);
            // The run fails at the link, so the connection closes without an answer.
            servedWhileBoxOpen = client.closedWithoutAnswer();
        };

        std::unique_ptr<TForm7> form = window::createMainWindow(optionsFor(refusing.port()), box);
        QVERIFY(form);
        QCOMPARE(box.shown.size(), 1u);
        QCOMPARE(box.shown[0].caption, title());
        QCOMPARE(box.shown[0].text, QStringLiteral("Socket Error # 10061\r\nConnection refused."));
        QVERIFY(iconWhileBoxOpen);
        QVERIFY(!shownWhileBoxOpen);
        QVERIFY(servedWhileBoxOpen);
        QVERIFY(!form->IdTCPClient1.isConnected());

        window::showMainWindow(*form, window::StartupShow::Normal);
        QTRY_VERIFY(form->isVisible());
        QTRY_COMPARE(paneLines(*form->Memo1), QStringList{QString::fromStdString(stayRequest)});

        TestClient later(form->IdTCPServer1.port());
        later.send(stayRequest);
        QVERIFY(later.closedWithoutAnswer());
        QCOMPARE(box.shown.size(), 1u);
    }

    void portTakenEndsStartupWithoutConnecting()
    {
        gateway::Listener holder(0, [](gateway::Connection&) {});
        holder.start();
        // A lock system that only listens: a link connect would leave a pending connection.
        gateway::Socket lockSystem = loopbackSocket();
        gateway::listenOn(lockSystem, 1);

        gateway::GatewayOptions options = optionsFor(gateway::localPort(lockSystem));
        options.listenerPort = holder.port();
        RecordingErrorBox box;
        bool formGoneWhileBoxOpen = false;
        box.onShow = [&] { formGoneWhileBoxOpen = mainWindows().isEmpty(); };

        std::unique_ptr<TForm7> form = window::createMainWindow(options, box);
        QVERIFY(!form);
        QVERIFY(mainWindows().isEmpty());
        QVERIFY(formGoneWhileBoxOpen);
        QCOMPARE(box.shown.size(), 1u);
        QCOMPARE(box.shown[0].caption, QStringLiteral("Application Error"));
        const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        const QString pattern =
            QStringLiteral("Exception EIdCouldNotBindSocket in module %1 at [0-9A-F]{16}\\.\r\n"
                           "Could not bind socket\\. Address and port are already in use\\.\r\n")
                .arg(QRegularExpression::escape(module));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                     .match(box.shown[0].text)
                     .hasMatch(),
                 qPrintable(box.shown[0].text));
        QCOMPARE(gateway::waitReadable(lockSystem, 0, nullptr), gateway::Readiness::TimedOut);
    }

    // The system's stop (SIGTERM) and the session's end are honoured while a start-up box waits for
    // the operator: the box goes and the program ends in order with 0. The session's end is last:
    // it leaves the application quitting, which ends any later event loop at once.
    void stopDuringAStartupBoxEndsInOrder()
    {
        enum class Stop
        {
            None,
            System,
            SessionEnd
        };
        struct Case
        {
            const char* what;
            bool portTaken;
            Stop stop;
            int exitCode;
        } cases[] = {
            {"port taken, no stop", true, Stop::None, 1},
            {"port taken, the system's stop", true, Stop::System, 0},
            {"connect refused, the system's stop", false, Stop::System, 0},
            {"connect refused, the session ends", false, Stop::SessionEnd, 0},
        };
        for (const Case& c : cases) {
            RefusingPort refusing;
            gateway::Listener holder(0, [](gateway::Connection&) {});
            holder.start();
            gateway::GatewayOptions options = optionsFor(refusing.port());
            if (c.portTaken) {
                options.listenerPort = holder.port();
            }
            window::StopSignals stopSignals;
            RecordingErrorBox box;
            box.modal = true;
            stopSignals.watch([&box] {
                box.dismiss();
                QCoreApplication::quit();
            });
            bool listenerActiveWhileBoxOpen = false;
            box.onShow = [&] {
                const TForm7* form = mainWindow();
                listenerActiveWhileBoxOpen = form != nullptr && form->IdTCPServer1.isActive();
                // Delivered while the box's own event loop runs.
                QTimer::singleShot(0, [&] {
                    switch (c.stop) {
                    case Stop::None:
                        box.dismiss(); // the operator's OK
                        break;
                    case Stop::System:
                        gateway::StopRequest::deliverSystemStop();
                        break;
                    case Stop::SessionEnd: {
                        // As the session manager's end-of-session notice reaches the program.
                        QEvent quit(QEvent::Quit);
                        QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
                        break;
                    }
                    }
                });
            };
            const int exitCode = window::runOperatorProgram(options, box, stopSignals.signal());
            QVERIFY2(exitCode == c.exitCode, c.what);
            QVERIFY2(box.shown.size() == 1, c.what);
            QVERIFY2(c.stop == Stop::None || stopSignals.requested(), c.what);
            QVERIFY2(listenerActiveWhileBoxOpen == !c.portTaken, c.what);
            QVERIFY2(mainWindows().isEmpty(), c.what);
        }
    }

    // Closing ends the event loop with exit code 0; the icon goes while the listener and the
    // link still run.
    void closeEndsTheProgramInOrder()
    {
        FakeLockServer server;
        RecordingErrorBox box;
        std::unique_ptr<TForm7> form = window::createMainWindow(optionsFor(server.port()), box);
        QVERIFY(form);
        window::showMainWindow(*form, window::StartupShow::Normal);
        bool listenerActiveAtIconRemoval = false;
        bool linkOpenAtIconRemoval = false;
        // Captured apart: the pointer is already null while form.reset() destroys the window.
        TForm7* const window = form.get();
        connect(form->TrayIcon1.get(), &QObject::destroyed, this, [&] {
            listenerActiveAtIconRemoval = window->IdTCPServer1.isActive();
            linkOpenAtIconRemoval = window->IdTCPClient1.isConnected();
        });

        QTimer::singleShot(0, form.get(), [&] { form->close(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        form.reset();
        QVERIFY(listenerActiveAtIconRemoval);
        QVERIFY(linkOpenAtIconRemoval);
        QVERIFY(box.shown.empty());
    }
};

QTEST_MAIN(StartupTest)
#include "test_Startup.moc"
