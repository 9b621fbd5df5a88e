// The conversion editor's comment: a disclosure triangle over the text.
// Closed, the text is hidden and read-only and the window shrinks to fit.
#pragma once

#include <QWidget>

class QPlainTextEdit;
class QToolButton;

class EditorCommentGroup : public QWidget {
    Q_OBJECT
public:
    explicit EditorCommentGroup(QWidget* parent);

    // Opens or closes the comment; the text gets the focus when it opens,
    // `focusWhenClosed` when it closes.
    void disclose(bool open, QWidget* focusWhenClosed);

    QToolButton* triangle;
    QPlainTextEdit* text;

private:
    bool m_expanded = true;
};
