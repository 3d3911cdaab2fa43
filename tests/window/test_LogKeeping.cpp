// What the window keeps of its log: the pane its latest lines, the log file every line,
// stamped and readable, and on SIGHUP the files are reopened after log rotation moved them.

#include "PaneLines.h"
#include "RecordingErrorBox.h"
#include "gateway/platform/LogFile.h"
#include "gateway/platform/ProcessFacts.h"
#include "support/FakeLockServer.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/TestClient.h"
#include "support/TestProcessFacts.h"
#include "window/Startup.h"
#include "window/Velmor_send.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

// A request whose log line holds a line break: two lines in the pane, one in the file.
const std::string brokenRequest =
    R"(<keyrequest room="1110" folio="123456" encoder="1")"
    "\r\n"
    R"( key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00")"
    R"( to-date-time="2020-07-17 11:00:00"/>)";

// The local time's stamp velmor_sndd puts before each line of its file.
const QString stamp = QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )");

// The file's lines, each without its stamp, which must be there.
QStringList fileLines(const QString& path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    QStringList lines;
    std::string line;
    const QRegularExpression stamped(QStringLiteral("^") + stamp + QStringLiteral("(.*)$"));
    while (std::getline(file, line)) {
        const QRegularExpressionMatch match = stamped.match(QString::fromStdString(line));
        lines.append(match.hasMatch() ? match.captured(1)
                                      : "unstamped: " + QString::fromStdString(line));
    }
    return lines;
}

int recordCount(const QString& path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    int count = 0;
    std::string line;
    while (std::getline(file, line)) {
        ++count;
    }
    return count;
}

void askForKeys(TForm7& form, const std::string& request = stayRequest)
{
    TestClient client(form.IdTCPServer1.port());
    client.send(request);
    QCOMPARE(client.readLine(), std::optional(successAnswer));
}

const QString reply = QStringLiteral("<STX>200000001RS001<ETX><EOT>");
const QString summary = QString::fromStdString(staySummary);

} // namespace

class LogKeepingTest : public QObject
{
    Q_OBJECT

private slots:
    // Requests served while the window's thread is held up: the file has every line at once, in
    // order and readably; the pane, once it runs, only the latest, the first of them whole.
    void thePaneKeepsTheLatestTheFileEvery()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString logPath = directory.filePath(QStringLiteral("velmor_snd.log"));
        FakeLockServer server;
        RecordingErrorBox box;
        window::OperatorOptions options(testGatewayOptions(server.port()));
        options.logFile = logPath.toStdString();
        options.logLines = 4;
        TForm7 form(options, box);
        form.FormCreate();

        // On one connection, so that each request's lines are logged before the next's.
        TestClient client(form.IdTCPServer1.port());
        for (int i = 0; i < 3; ++i) {
            client.send(brokenRequest);
            QCOMPARE(client.readLine(), std::optional(successAnswer));
        }
        const QString request = QString::fromStdString(brokenRequest).replace("\r\n", "<CR><LF>");
        QStringList every;
        for (int i = 0; i < 3; ++i) {
            every << request << reply << "001" << summary;
        }
        QTRY_COMPARE(fileLines(logPath), every);

        const QString requestPane = QString::fromStdString(brokenRequest).replace("\r\n", "\n");
        QTRY_COMPARE(paneLines(*form.Memo1),
                     QStringList({requestPane.section('\n', 0, 0), requestPane.section('\n', 1, 1),
                                  QString::fromStdString(FakeLockServer::replyWithCode("001")),
                                  "001", summary}));
        QVERIFY(box.shown.empty());
    }

    // logrotate moves the files away and sends SIGHUP: the window reopens them, says so in both,
    // and goes on; what the moved files hold stays as it was.
    void sighupReopensTheFiles()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString logPath = directory.filePath(QStringLiteral("velmor_snd.log"));
        const QString keysPath = directory.filePath(QStringLiteral("keys.jsonl"));
        FakeLockServer server;
        RecordingErrorBox box;
        window::OperatorOptions options(testGatewayOptions(server.port()));
        options.logFile = logPath.toStdString();
        options.keyRecord = keysPath.toStdString();
        gateway::ReopenRequest reopen;
        TForm7 form(options, box);
        form.FormCreate();
        form.watchReopenRequests(reopen);

        askForKeys(form);
        const QStringList first{QString::fromStdString(stayRequest), reply, "001", summary};
        QTRY_COMPARE(fileLines(logPath), first);
        QTRY_COMPARE(recordCount(keysPath), 1);

        if (gateway::windowsSystem()) {
            QSKIP("Windows has no SIGHUP");
        }
        std::filesystem::rename(logPath.toStdString(), logPath.toStdString() + ".1");
        std::filesystem::rename(keysPath.toStdString(), keysPath.toStdString() + ".1");
        QVERIFY(deliverReopenSignal());
        const QString reopenedKeys = "reopened the key record " + keysPath;
        QTRY_VERIFY(paneLines(*form.Memo1).contains(reopenedKeys));

        askForKeys(form);
        QTRY_COMPARE(fileLines(logPath),
                     QStringList({"reopened the log file " + logPath, reopenedKeys}) + first);
        QTRY_COMPARE(recordCount(keysPath), 1);
        QCOMPARE(fileLines(logPath + ".1"), first);
        QCOMPARE(recordCount(keysPath + ".1"), 1);
        QVERIFY(box.shown.empty());
    }

    // A file that cannot be opened fails the start, as a taken port does.
    void aFileThatCannotBeOpenedFailsTheStart_data()
    {
        QTest::addColumn<bool>("logFile");
        QTest::addColumn<QString>("said");

        QTest::newRow("log file") << true << "cannot open the log file ";
        QTest::newRow("key record") << false << "cannot open the key record ";
    }

    void aFileThatCannotBeOpenedFailsTheStart()
    {
        QFETCH(bool, logFile);
        QFETCH(QString, said);

        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath(QStringLiteral("missing/velmor_snd.log"));
        FakeLockServer server;
        RecordingErrorBox box;
        window::OperatorOptions options(testGatewayOptions(server.port()));
        (logFile ? options.logFile : options.keyRecord) = path.toStdString();
        QVERIFY(window::createMainWindow(options, box) == nullptr);
        QCOMPARE(box.shown.size(), std::size_t(1));
        QCOMPARE(box.shown[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(box.shown[0].text.contains(said + path + ": "), qPrintable(box.shown[0].text));
    }
};

QTEST_MAIN(LogKeepingTest)
#include "test_LogKeeping.moc"
