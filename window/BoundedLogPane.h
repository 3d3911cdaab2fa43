#pragma once

#include <QMetaObject>
#include <QString>

#include <cstddef>

class QPlainTextEdit;

namespace window {

// The log pane keeping only its latest log lines, so that a window left running for months
// stays flat in memory (the log file, where one is kept, has them all). Lines leave from the
// top, whole log lines at a time: a log line holding line breaks takes several of the pane's
// lines, and they leave together, never one without the others.
//
// The first pane line of each appended log line is marked in the document, so what the
// operator types or deletes cannot make the bound cut a log line: text typed between log lines
// (unmarked) leaves together with the log line above it, text typed above the first log line
// leaves with that one, and log lines the operator deletes no longer count. A log line the
// operator joins to the one above (deleting the line break between them) leaves with it.
//
// The pane's undo history is turned off: it would keep every line that leaves, and an undo
// would take log lines back out of the pane.
class BoundedLogPane
{
public:
    BoundedLogPane(QPlainTextEdit& pane, std::size_t keptLines);
    ~BoundedLogPane();
    BoundedLogPane(const BoundedLogPane&) = delete;
    BoundedLogPane& operator=(const BoundedLogPane&) = delete;

    // Appends by the pane's append rule (appendLogLine), then lets the oldest log lines go
    // until keptLines are left. The work done is that of the lines added and removed, never
    // of the whole pane, except once after the operator has edited the pane.
    void append(const QString& line);

    // The log lines in the pane now.
    std::size_t lines();
    std::size_t keptLines() const { return m_keptLines; }

private:
    // The log lines marked in the pane, counted again after the operator's edits.
    void recountIfEdited();
    // Everything above the first log line to be kept goes.
    void removeOldest(std::size_t count);

    QPlainTextEdit& m_pane;
    const std::size_t m_keptLines;
    std::size_t m_lines = 0;
    // Set while the pane is changed here, so that only the operator's changes mark the count
    // as stale.
    bool m_changing = false;
    bool m_edited = false;
    QMetaObject::Connection m_editWatch;
};

} // namespace window
