#include "RecordingErrorBox.h"
#include "gateway/base/Errors.h"
#include "window/ErrorDisplay.h"

#include <QRegularExpression>
#include <QtTest>

#include <exception>
#include <stdexcept>

Q_DECLARE_METATYPE(std::exception_ptr)

namespace {

template <typename E> std::exception_ptr failure(const char* message)
{
    return std::make_exception_ptr(E(message));
}

// outer wraps middle, which wraps inner.
std::exception_ptr chain(const char* outer, const char* middle, const char* inner)
{
    try {
        try {
            try {
                throw std::runtime_error(inner);
            } catch (...) {
                std::throw_with_nested(gateway::Exception(middle));
            }
        } catch (...) {
            std::throw_with_nested(gateway::EDOMParseError(outer));
        }
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace

class ErrorDisplayTest : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<std::exception_ptr>("failure");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("text");

        QTest::newRow("EAbort is silent")
            << failure<gateway::EAbort>("Operation aborted") << false << "";
        QTest::newRow("ends in a letter")
            << failure<gateway::EConvertError>("'x' is not a valid date") << true
            << "'x' is not a valid date.";
        QTest::newRow("ends in a digit")
            << failure<std::runtime_error>("code 10061") << true << "code 10061.";
        QTest::newRow("ends in a question mark")
            << failure<std::runtime_error>("why?") << true << "why?.";
        QTest::newRow("ends in a dot")
            << failure<gateway::EIdConnClosedGracefully>("Connection Closed Gracefully.") << true
            << "Connection Closed Gracefully.";
        QTest::newRow("ends in a parenthesis")
            << failure<std::runtime_error>("(x)") << true << "(x)";
        QTest::newRow("ends in an exclamation mark")
            << failure<std::runtime_error>("no!") << true << "no!";
        QTest::newRow("unknown socket error ends in its line break")
            << std::make_exception_ptr(gateway::EIdSocketError(99999)) << true
            << "Socket Error # 99999\r\n";
        QTest::newRow("refused connect") << std::make_exception_ptr(gateway::EIdSocketError(10061))
                                         << true << "Socket Error # 10061\r\nConnection refused.";
        QTest::newRow("empty message") << failure<std::runtime_error>("") << true << "";
        QTest::newRow("innermost message wins")
            << chain("outer", "middle", "inner") << true << "inner.";
        QTest::newRow("innermost non-empty message wins")
            << chain("outer", "middle", "") << true << "middle.";
        QTest::newRow("outer message when all inner ones are empty")
            << chain("outer", "", "") << true << "outer.";
    }

    void text()
    {
        QFETCH(std::exception_ptr, failure);
        QFETCH(bool, shown);
        QFETCH(QString, text);

        RecordingErrorBox box;
        window::showErrorDisplay(box, QStringLiteral("velmor_snd"), failure);
        QCOMPARE(box.shown.size(), shown ? 1u : 0u);
        if (shown) {
            QCOMPARE(box.shown[0].caption, QStringLiteral("velmor_snd"));
            QCOMPARE(box.shown[0].text, text);
        }
    }

    void startupFailure_data()
    {
        QTest::addColumn<std::exception_ptr>("failure");
        QTest::addColumn<QString>("pattern");

        QTest::newRow("bind error")
            << failure<gateway::EIdCouldNotBindSocket>(gateway::messages::couldNotBind)
            << "Exception EIdCouldNotBindSocket in module velmor_snd at [0-9A-F]{16}\\.\r\n"
               "Could not bind socket\\. Address and port are already in use\\.\r\n";
        QTest::newRow("message without final dot")
            << failure<gateway::EIdTCPNoOnExecute>("no handler")
            << "Exception EIdTCPNoOnExecute in module velmor_snd at [0-9A-F]{16}\\.\r\n"
               "no handler\\.\r\n";
        QTest::newRow("failure of another kind")
            << failure<std::runtime_error>("boom")
            << "Exception std::runtime_error in module velmor_snd at [0-9A-F]{16}\\.\r\n"
               "boom\\.\r\n";
    }

    void startupFailure()
    {
        QFETCH(std::exception_ptr, failure);
        QFETCH(QString, pattern);
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            const QString text = window::startupFailureText(error, QStringLiteral("velmor_snd"));
            QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                         .match(text)
                         .hasMatch(),
                     qPrintable(text));
        }
    }
};

QTEST_MAIN(ErrorDisplayTest)
#include "test_ErrorDisplay.moc"
