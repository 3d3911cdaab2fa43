// The log pane keeps its latest log lines only, whole log lines at a time, whatever the
// operator types in between.

#include "PaneLines.h"
#include "Typing.h"
#include "window/BoundedLogPane.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QtTest>

using window::BoundedLogPane;

namespace {

// "log:TEXT" appends a log line, "type:TEXT" is typed by the operator at the caret.
void run(QPlainTextEdit& pane, BoundedLogPane& bound, const QStringList& steps)
{
    for (const QString& step : steps) {
        if (step.startsWith(QLatin1String("log:"))) {
            bound.append(step.mid(4));
        } else if (step.startsWith(QLatin1String("type:"))) {
            typeInto(pane, step.mid(5));
        } else {
            QFAIL(qPrintable("no such step: " + step));
        }
    }
}

// Puts the caret at the start of the pane's line (block) with this number.
void caretToLine(QPlainTextEdit& pane, int line)
{
    QTextCursor cursor(pane.document()->findBlockByNumber(line));
    pane.setTextCursor(cursor);
}

} // namespace

class BoundedLogPaneTest : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheLatest_data()
    {
        QTest::addColumn<int>("kept");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");

        QTest::newRow("fewer than kept") << 3 << QStringList{"log:a", "log:b"} << "a\nb\n" << 2;
        QTest::newRow("one line each")
            << 3 << QStringList{"log:a", "log:b", "log:c", "log:d", "log:e"} << "c\nd\ne\n"
            << 3;
        QTest::newRow("one kept") << 1 << QStringList{"log:a", "log:b"} << "b\n" << 1;
        QTest::newRow("empty log lines count as lines")
            << 2 << QStringList{"log:", "log:", "log:x"} << "\nx\n"
            << 2;
        QTest::newRow("a line of several leaves whole")
            << 2 << QStringList{"log:one\r\ntwo", "log:x", "log:three\rfour\nfive"}
            << "x\nthree\nfour\nfive\n"
            << 2;
        QTest::newRow("the first line kept is whole")
            << 2 << QStringList{"log:a", "log:b\r\nc", "log:d"} << "b\nc\nd\n"
            << 2;
        QTest::newRow("CR LF, CR and LF alike")
            << 1 << QStringList{"log:a\r\nb\rc\nd", "log:e\nf"} << "e\nf\n"
            << 1;
        QTest::newRow("typed after a line leaves with it")
            << 2 << QStringList{"log:a", "type:note", "log:b", "log:c"} << "b\nc" << 2;
        QTest::newRow("typed lines after a line leave with it")
            << 2 << QStringList{"log:a", "type:note\nmore\n", "log:b", "log:c"} << "b\nc\n"
            << 2;
        QTest::newRow("typed above the first line leaves with it")
            << 2 << QStringList{"type:top\n", "log:a", "log:b", "log:c"} << "b\nc\n"
            << 2;
        QTest::newRow("typed after the latest line stays")
            << 2 << QStringList{"log:a", "log:b", "type:note"} << "a\nb\nnote" << 2;
        QTest::newRow("typed after a line that leaves, without a line break")
            << 1 << QStringList{"log:a", "type:typed", "log:b"} << "b" << 1;
        QTest::newRow("typed within the kept lines stays")
            << 2 << QStringList{"log:a", "log:b", "type:note", "log:c"} << "b\nnote\nc" << 2;
    }

    void keepsTheLatest()
    {
        QFETCH(int, kept);
        QFETCH(QStringList, steps);
        QFETCH(QString, text);
        QFETCH(int, lines);

        QPlainTextEdit pane;
        BoundedLogPane bound(pane, static_cast<std::size_t>(kept));
        run(pane, bound, steps);
        QCOMPARE(pane.toPlainText(), text);
        QCOMPARE(bound.lines(), static_cast<std::size_t>(lines));
        QVERIFY(pane.textCursor().atEnd());
    }

    // Log lines the operator deletes no longer count: the pane is not cut below what it keeps.
    void deletedLinesNoLongerCount()
    {
        QPlainTextEdit pane;
        BoundedLogPane bound(pane, 3);
        run(pane, bound, {"log:a", "log:b", "log:c"});
        caretToLine(pane, 0);
        QTest::keyClick(&pane, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&pane, Qt::Key_Delete);
        QCOMPARE(pane.toPlainText(), QStringLiteral("b\nc\n"));
        bound.append(QStringLiteral("d"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("b\nc\nd\n"));
        bound.append(QStringLiteral("e"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("c\nd\ne\n"));
    }

    // A line the operator breaks in two is still one log line, and leaves whole.
    void aLineBrokenByTheOperatorLeavesWhole()
    {
        QPlainTextEdit pane;
        BoundedLogPane bound(pane, 2);
        run(pane, bound, {"log:abcdef", "log:x"});
        caretToLine(pane, 0);
        pane.moveCursor(QTextCursor::Right);
        pane.moveCursor(QTextCursor::Right);
        pane.moveCursor(QTextCursor::Right);
        QTest::keyClick(&pane, Qt::Key_Return);
        QCOMPARE(pane.toPlainText(), QStringLiteral("abc\ndef\nx\n"));
        QCOMPARE(bound.lines(), std::size_t(2));
        bound.append(QStringLiteral("y"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("x\ny\n"));
    }

    // Two log lines the operator joins into one leave together.
    void linesJoinedByTheOperatorLeaveTogether()
    {
        QPlainTextEdit pane;
        BoundedLogPane bound(pane, 2);
        run(pane, bound, {"log:a", "log:b"});
        caretToLine(pane, 1);
        QTest::keyClick(&pane, Qt::Key_Backspace);
        QCOMPARE(pane.toPlainText(), QStringLiteral("ab\n"));
        bound.append(QStringLiteral("c"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("ab\nc\n"));
        bound.append(QStringLiteral("d"));
        QCOMPARE(pane.toPlainText(), QStringLiteral("c\nd\n"));
    }

    // An undo would take log lines back out, and its history would keep every line that left.
    void noUndo()
    {
        QPlainTextEdit pane;
        BoundedLogPane bound(pane, 2);
        run(pane, bound, {"log:a", "type:typed"});
        QTest::keyClick(&pane, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane.toPlainText(), QStringLiteral("a\ntyped"));
        QVERIFY(!pane.document()->isUndoAvailable());
    }

    // However long it runs, the pane holds what it keeps and no more.
    void staysFlat()
    {
        QPlainTextEdit pane;
        pane.resize(300, 100);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        BoundedLogPane bound(pane, 100);
        for (int i = 0; i < 5000; ++i) {
            bound.append(QStringLiteral("line %1\r\nits second half").arg(i));
        }
        QCOMPARE(bound.lines(), std::size_t(100));
        // 100 log lines of two blocks each, and the empty one at the end.
        QCOMPARE(pane.document()->blockCount(), 201);
        QCOMPARE(pane.document()->firstBlock().text(), QStringLiteral("line 4900"));
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect()));
    }
};

QTEST_MAIN(BoundedLogPaneTest)
#include "test_BoundedLogPane.moc"
