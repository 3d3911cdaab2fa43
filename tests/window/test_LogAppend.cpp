#include "PaneLines.h"
#include "Typing.h"
#include "window/LogAppend.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

using window::appendLogLine;
using window::logLineInsertion;

class LogAppendTest : public QObject
{
    Q_OBJECT

private slots:
    // The rule on the pane's text, with line breaks as the edit control keeps them (CR LF).
    void insertion_data()
    {
        QTest::addColumn<QString>("paneText");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("result");

        QTest::newRow("empty pane") << ""
                                    << "abc"
                                    << "abc\r\n";
        QTest::newRow("empty text on empty pane") << ""
                                                  << ""
                                                  << "\r\n";
        QTest::newRow("after a logged line") << "abc\r\n"
                                             << "def"
                                             << "abc\r\ndef\r\n";
        QTest::newRow("empty text after an empty line") << "\r\n"
                                                        << ""
                                                        << "\r\n\r\n";
        QTest::newRow("operator typed without line break") << "typed"
                                                           << "abc"
                                                           << "typed\r\nabc";
        QTest::newRow("typed after logged lines") << "abc\r\ntyped"
                                                  << "def"
                                                  << "abc\r\ntyped\r\ndef";
        QTest::newRow("empty text after typed") << "typed"
                                                << ""
                                                << "typed\r\n";
        QTest::newRow("embedded line breaks") << ""
                                              << "one\r\ntwo"
                                              << "one\r\ntwo\r\n";
        QTest::newRow("control characters kept") << ""
                                                 << "\x02"
                                                    "200000001RS001\x03\x04"
                                                 << "\x02"
                                                    "200000001RS001\x03\x04\r\n";
        QTest::newRow("pane's paragraph break")
            << QString("abc") + QChar::ParagraphSeparator << "def"
            << QString("abc") + QChar::ParagraphSeparator + "def\r\n";
        QTest::newRow("lone LF") << "abc\n"
                                 << "def"
                                 << "abc\ndef\r\n";
    }

    void insertion()
    {
        QFETCH(QString, paneText);
        QFETCH(QString, line);
        QFETCH(QString, result);
        QCOMPARE(paneText + logLineInsertion(paneText, line), result);
    }

    // The same rule on a real pane, with the operator typing first.
    void pane_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("appended");
        QTest::addColumn<QString>("text");

        QTest::newRow("lines") << "" << QStringList{"a", "b"} << "a\nb\n";
        QTest::newRow("one empty line") << "" << QStringList{""} << "\n";
        QTest::newRow("typed without line break") << "typed" << QStringList{"a"} << "typed\na";
        QTest::newRow("after typing, every line opens its own")
            << "typed" << QStringList{"a", "b"} << "typed\na\nb";
        QTest::newRow("typed with line break") << "x\n" << QStringList{"a"} << "x\na\n";
        QTest::newRow("embedded CR LF, CR and LF")
            << "" << QStringList{"one\r\ntwo\rthree\nfour"} << "one\ntwo\nthree\nfour\n";
    }

    void pane()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, appended);
        QFETCH(QString, text);

        QPlainTextEdit pane;
        typeInto(pane, typed);
        for (const QString& line : appended) {
            appendLogLine(pane, line);
        }
        QCOMPARE(pane.toPlainText(), text);
        QCOMPARE(pane.textCursor().position(), pane.document()->characterCount() - 1);
    }

    void caretAndScrollFollowTheAppendedLine()
    {
        QPlainTextEdit pane;
        pane.resize(200, 80);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.moveCursor(QTextCursor::Start);

        for (int i = 0; i < 50; ++i) {
            appendLogLine(pane, QStringLiteral("line %1").arg(i));
        }
        QCOMPARE(paneLines(pane).size(), 50);
        QVERIFY(pane.textCursor().atEnd());
        QVERIFY(pane.verticalScrollBar()->value() > 0);
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect()));
    }
};

QTEST_MAIN(LogAppendTest)
#include "test_LogAppend.moc"
