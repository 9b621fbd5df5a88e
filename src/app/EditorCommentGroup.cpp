#include "EditorCommentGroup.h"

#include "ControlTools.h"
#include "Localized.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ControlTools;

EditorCommentGroup::EditorCommentGroup(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* commentRow = new QHBoxLayout;
    triangle = Named(new QToolButton(this), "commentDisclosureTriangle");
    triangle->setCheckable(true);
    triangle->setChecked(true);
    triangle->setArrowType(Qt::DownArrow);
    triangle->setAutoRaise(true);
    commentRow->addWidget(triangle);
    commentRow->addWidget(new QLabel(L("Comment"), this));
    commentRow->addStretch();
    layout->addLayout(commentRow);
    text = Named(new QPlainTextEdit(this), "commentTextView");
    text->setFixedHeight(60);
    QFont font = text->font();
    font.setPointSize(11);
    text->setFont(font);
    layout->addWidget(text);
}

void EditorCommentGroup::disclose(bool open, QWidget* focusWhenClosed)
{
    if (open == m_expanded && text->isVisible() == open)
        return;
    m_expanded = open;
    triangle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    text->setVisible(open);
    text->setReadOnly(!open);
    if (open)
        text->setFocus();
    else
        focusWhenClosed->setFocus();
    window()->adjustSize();
}
