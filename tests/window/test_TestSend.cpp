#include "PaneLines.h"
#include "RecordingErrorBox.h"
#include "support/FakeLockServer.h"
#include "support/GatewayFixture.h"
#include "tools/support/WorkedExample.h"
#include "window/ApplicationTitle.h"
#include "window/Velmor_send.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <optional>

using namespace std::chrono_literals;

namespace {

// The test command is the worked example's line, and its summary is logged first.
const QString summary = QString::fromLatin1(tools::workedExample::summary.bytes());
const std::string replyOk = FakeLockServer::replyWithCode("001");

gateway::GatewayOptions optionsFor(const FakeLockServer& server, int replyWaitMs = 5000)
{
    gateway::GatewayOptions options = testGatewayOptions(server.port());
    options.replyWaitMs = replyWaitMs;
    options.terminateWaitMs = 2000;
    return options;
}

// Holds the lock system's replies until the test lets them go.
class Gate
{
public:
    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

} // namespace

class TestSendTest : public QObject
{
    Q_OBJECT

private slots:
    void logsSummaryReplyAndCode_data()
    {
        QTest::addColumn<std::optional<std::string>>("reply");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("code 001") << std::optional(replyOk)
                                  << QStringList{summary, QString::fromStdString(replyOk), "001"};
        QTest::newRow("code 003") << std::optional(FakeLockServer::replyWithCode("003"))
                                  << QStringList{summary,
                                                 QString::fromStdString(
                                                     FakeLockServer::replyWithCode("003")),
                                                 "003"};
        QTest::newRow("reply of 12 characters") << std::optional<std::string>("\x02"
                                                                              "200000001RS")
                                                << QStringList{summary,
                                                               "\x02"
                                                               "200000001RS",
                                                               ""};
        QTest::newRow("no reply within the wait")
            << std::optional<std::string>() << QStringList{summary, "", ""};
    }

    void logsSummaryReplyAndCode()
    {
        QFETCH(std::optional<std::string>, reply);
        QFETCH(QStringList, lines);

        FakeLockServer server([&](const std::string&) { return reply; });
        RecordingErrorBox box;
        TForm7 form(optionsFor(server, 300), box);
        form.FormCreate();

        QTest::mouseClick(form.Button4, Qt::LeftButton);
        QTRY_COMPARE(paneLines(*form.Memo1), lines);
        QVERIFY(server.waitForLines(1));
        QCOMPARE(server.lines(),
                 std::vector<std::string>{std::string(tools::workedExample::line.bytes())});
        QVERIFY(box.shown.empty());
    }

    void twoClicksMakeTwoExchanges()
    {
        FakeLockServer server;
        RecordingErrorBox box;
        TForm7 form(optionsFor(server), box);
        form.FormCreate();

        form.Button4->click();
        form.Button4->click();
        const QString reply = QString::fromStdString(replyOk);
        QTRY_COMPARE(paneLines(*form.Memo1),
                     (QStringList{summary, reply, "001", summary, reply, "001"}));
        QCOMPARE(server.lines().size(), 2u);
    }

    // The summary line first, then the failure in the box; the later steps do not run.
    void linkFailureReachesTheErrorDisplay_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QString>("message");
        QTest::newRow("never connected") << false << "Not connected to the lock system.";
        QTest::newRow("closed by the lock system") << true << "Connection Closed Gracefully.";
    }

    void linkFailureReachesTheErrorDisplay()
    {
        QFETCH(bool, connect);
        QFETCH(QString, message);

        FakeLockServer server;
        RecordingErrorBox box;
        TForm7 form(optionsFor(server, 300), box);
        if (connect) {
            form.FormCreate();
            QVERIFY(server.waitForPeer());
            server.closeConnection();
            // The exchange that meets the end of stream takes an empty reply or fails,
            // depending on when the end arrives; every later one fails at its write.
            form.Button4->click();
            QTRY_VERIFY(box.shown.size() == 1 || paneLines(*form.Memo1).size() == 3);
            box.shown.clear();
            form.Memo1->clear();
        }
        QStringList linesWhenShown;
        box.onShow = [&] { linesWhenShown = paneLines(*form.Memo1); };

        form.Button4->click();
        QTRY_COMPARE(box.shown.size(), 1u);
        QCOMPARE(box.shown[0].caption,
                 window::applicationTitle(QCoreApplication::applicationFilePath()));
        QCOMPARE(box.shown[0].text, message);
        QCOMPARE(linesWhenShown, QStringList{summary});
        QCOMPARE(paneLines(*form.Memo1), QStringList{summary});
    }

    // The window's thread goes on while the lock system takes its time.
    void windowDoesNotWaitForTheExchange()
    {
        Gate gate;
        FakeLockServer server([&](const std::string&) {
            gate.wait();
            return std::optional(replyOk);
        });
        RecordingErrorBox box;
        TForm7 form(optionsFor(server), box);
        form.FormCreate();

        form.Button4->click();
        QVERIFY(server.waitForLines(1));
        QTRY_COMPARE(paneLines(*form.Memo1), QStringList{summary});
        gate.open();
        QTRY_COMPARE(paneLines(*form.Memo1).size(), 3);
    }

    void closingEndsAPendingExchange()
    {
        FakeLockServer server([](const std::string&) { return std::optional<std::string>(); });
        RecordingErrorBox box;
        auto form = std::make_unique<TForm7>(optionsFor(server, 15000), box);
        form->FormCreate();
        form->Button4->click();
        form->Button4->click();
        QVERIFY(server.waitForLines(1));

        QElapsedTimer timer;
        timer.start();
        form.reset();
        QVERIFY2(timer.elapsed() < 5000, "shutdown waited for the test exchange");
        QCOMPARE(server.lines().size(), 1u);
        QCoreApplication::processEvents();
        QVERIFY(box.shown.empty());
    }
};

QTEST_MAIN(TestSendTest)
#include "test_TestSend.moc"
