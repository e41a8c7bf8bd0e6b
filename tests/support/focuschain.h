#pragma once

#include <QStringList>
#include <QWidget>

namespace tarn::test
{

// The names of the first `count` controls Tab reaches from `from`, joined by spaces.
inline QString tabChain(QWidget *from, int count)
{
    QStringList names;
    for (QWidget *at = from; names.size() < count && at; at = at->nextInFocusChain())
        if ((at->focusPolicy() & Qt::TabFocus) && at->isVisibleTo(from->window()))
            names << at->objectName();
    return names.join(' ');
}

} // namespace tarn::test
