#include "PaneLines.h"
#include "RecordingErrorBox.h"
#include "support/FakeLockServer.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/TestClient.h"
#include "window/Startup.h"
#include "window/Velmor_send.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QtTest>

#include <condition_variable>
#include <mutex>

namespace {

const std::string reply = FakeLockServer::replyWithCode("001");
const QStringList requestLines{QString::fromStdString(stayRequest), QString::fromStdString(reply),
                               "001", QString::fromStdString(staySummary)};

gateway::GatewayOptions optionsFor(const FakeLockServer& server)
{
    gateway::GatewayOptions options = testGatewayOptions(server.port());
    options.terminateWaitMs = 5000;
    return options;
}

} // namespace

class ServingTest : public QObject
{
    Q_OBJECT

private slots:
    // The window's thread is blocked in this test's own read while the request is served:
    // the connection thread hands its lines over and answers without waiting for it.
    void requestIsServedWhileTheWindowIsBusy()
    {
        FakeLockServer server;
        RecordingErrorBox box;
        TForm7 form(optionsFor(server), box);
        form.FormCreate();
        QCOMPARE(form.data(), gateway::Text());

        TestClient client(form.IdTCPServer1.port());
        client.send(stayRequest);
        QCOMPARE(client.readLine(), std::optional(successAnswer));
        QVERIFY(paneLines(*form.Memo1).isEmpty());

        QTRY_COMPARE(paneLines(*form.Memo1), requestLines);
        QCOMPARE(form.data(), gateway::fromUtf8(stayRequest));
    }

    void requestsWhileHiddenAreLogged()
    {
        FakeLockServer server;
        RecordingErrorBox box;
        TForm7 form(optionsFor(server), box);
        form.FormCreate();
        window::showMainWindow(form, window::StartupShow::Normal);
        form.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(form.isHidden());

        TestClient client(form.IdTCPServer1.port());
        client.send(stayRequest);
        QCOMPARE(client.readLine(), std::optional(successAnswer));
        QTRY_COMPARE(paneLines(*form.Memo1), requestLines);

        emit form.TrayIcon1->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(form.isVisible());
        QCOMPARE(paneLines(*form.Memo1), requestLines);
    }

    // A request in the middle of its exchange when the window goes. The lock system answers
    // only once the shutdown has begun; the listener's shutdown then waits for the run to end
    // by itself (the link is still open) instead of needing the overdue cancel, and the run's
    // log lines handed over meanwhile neither block it nor reach the destroyed pane.
    void shutdownWaitsForARunningRequest()
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool windowClosing = false;
        FakeLockServer server([&](const std::string&) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return windowClosing; });
            return std::optional(reply);
        });
        RecordingErrorBox box;
        gateway::GatewayOptions options = optionsFor(server);
        auto form = std::make_unique<TForm7>(options, box);
        form->FormCreate();
        connect(form->TrayIcon1.get(), &QObject::destroyed, this, [&] {
            {
                std::lock_guard lock(mutex);
                windowClosing = true;
            }
            changed.notify_all();
        });

        TestClient client(form->IdTCPServer1.port());
        client.send(stayRequest);
        QVERIFY(server.waitForLines(1));
        QElapsedTimer timer;
        timer.start();
        form.reset();
        QVERIFY2(timer.elapsed() < options.terminateWaitMs, "the run was cut off, not waited for");
        QCoreApplication::processEvents();
        QVERIFY(box.shown.empty());
    }
};

QTEST_MAIN(ServingTest)
#include "test_Serving.moc"
