#include "window/LogAppend.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace window {

namespace {

const QString lineBreak = QStringLiteral("\r\n");

bool endsWithLineBreak(const QString& text)
{
    if (text.isEmpty()) {
        return false;
    }
    const QChar last = text.back();
    return last == QLatin1Char('\n') || last == QLatin1Char('\r') ||
           last == QChar::ParagraphSeparator;
}

} // namespace

QString logLineInsertion(const QString& paneText, const QString& line)
{
    if (paneText.isEmpty() || endsWithLineBreak(paneText)) {
        return line + lineBreak;
    }
    return lineBreak + line;
}

QTextBlock appendLogLine(QPlainTextEdit& pane, const QString& line)
{
    QTextDocument& document = *pane.document();
    // The last character is all the rule reads; copying a long log out for it on every
    // append would cost more the longer the program runs. The document's final character is
    // its own end mark, not text.
    const int characters = document.characterCount();
    const QString end = characters >= 2 ? QString(document.characterAt(characters - 2)) : QString();
    // Where the line starts: at the end, or after the line break put before it (CR LF is one
    // break, one position).
    const int lineStart = characters - 1 + (end.isEmpty() || endsWithLineBreak(end) ? 0 : 1);

    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(logLineInsertion(end, line));
    pane.setTextCursor(cursor);
    pane.ensureCursorVisible();
    return document.findBlock(lineStart);
}

} // namespace window
