#include "window/BoundedLogPane.h"

#include "window/LogAppend.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace window {

namespace {

// The block state marking the first pane line of a log line; Qt gives every other block -1.
constexpr int logLineStart = 1;
constexpr int otherLine = -1;

bool startsLogLine(const QTextBlock& block)
{
    return block.userState() == logLineStart;
}

} // namespace

BoundedLogPane::BoundedLogPane(QPlainTextEdit& pane, std::size_t keptLines)
    : m_pane(pane), m_keptLines(keptLines > 0 ? keptLines : 1)
{
    m_pane.setUndoRedoEnabled(false);
    m_editWatch =
        QObject::connect(m_pane.document(), &QTextDocument::contentsChange, [this](int, int, int) {
            if (!m_changing) {
                m_edited = true;
            }
        });
    // Whatever the pane holds already is the operator's.
    m_edited = !m_pane.document()->isEmpty();
}

BoundedLogPane::~BoundedLogPane()
{
    QObject::disconnect(m_editWatch);
}

void BoundedLogPane::append(const QString& line)
{
    recountIfEdited();
    m_changing = true;
    const QTextBlock first = appendLogLine(m_pane, line);
    // Marked here, whatever the document did with the states of the blocks it split: the
    // line's first block starts it, its other blocks and the empty one after it do not.
    QTextBlock(first).setUserState(logLineStart);
    for (QTextBlock block = first.next(); block.isValid(); block = block.next()) {
        QTextBlock(block).setUserState(otherLine);
    }
    ++m_lines;
    if (m_lines > m_keptLines) {
        removeOldest(m_lines - m_keptLines);
        m_pane.ensureCursorVisible();
    }
    m_changing = false;
}

std::size_t BoundedLogPane::lines()
{
    recountIfEdited();
    return m_lines;
}

void BoundedLogPane::recountIfEdited()
{
    if (!m_edited) {
        return;
    }
    m_edited = false;
    m_lines = 0;
    for (QTextBlock block = m_pane.document()->firstBlock(); block.isValid();
         block = block.next()) {
        m_lines += startsLogLine(block) ? 1 : 0;
    }
}

void BoundedLogPane::removeOldest(std::size_t count)
{
    QTextDocument& document = *m_pane.document();
    // The first log line kept is the one after the count oldest; only the blocks that go are
    // looked at.
    std::size_t seen = 0;
    QTextBlock kept = document.firstBlock();
    for (; kept.isValid(); kept = kept.next()) {
        if (startsLogLine(kept) && seen++ == count) {
            break;
        }
    }
    if (!kept.isValid()) {
        // Fewer log lines than counted: none is to go.
        m_lines = seen;
        return;
    }
    QTextCursor cursor(&document);
    cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    // The kept line is now the first block, whichever of the joined blocks' states the
    // document kept for it.
    document.firstBlock().setUserState(logLineStart);
    m_lines -= count;
}

} // namespace window
