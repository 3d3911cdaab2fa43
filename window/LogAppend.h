#pragma once

#include <QString>
#include <QTextBlock>

class QPlainTextEdit;

namespace window {

// What appending a log line adds at the very end of the pane's text: the line followed by
// CR LF; when the text does not end with a line break (the operator has typed into the
// pane), CR LF and then the line, so the line still starts a line of its own. Only the end
// of the pane's text matters; a QPlainTextEdit reports its line breaks as U+2029.
QString logLineInsertion(const QString& paneText, const QString& line);

// Appends the line by that rule, leaves the caret after it and scrolls to it. The pane turns
// each CR LF, lone CR or lone LF into a line break of its own. Gives the pane's block (line)
// where the appended line starts.
QTextBlock appendLogLine(QPlainTextEdit& pane, const QString& line);

} // namespace window
