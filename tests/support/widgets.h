// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "testsupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QStyleFactory>

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

// Clicks the button, or triggers the menu item, of that name.
inline void press(const QObject *window, const char *name)
{
    if (auto *button = window->findChild<QAbstractButton *>(QLatin1String(name)))
        button->click();
    else
        child<QAction>(window, name)->trigger();
}

// Replaces what a field holds by typing, as a user does.
inline void retype(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// The entries of a list, the hidden ones too when asked.
inline QStringList entries(const QListWidget *list, bool hiddenToo = false)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        if (hiddenToo || !list->item(i)->isHidden())
            texts << list->item(i)->text();
    return texts;
}

// Whether a list's popup shows each of its entries whole, in a style that
// sizes it as the list itself (Fusion widens it for the entries anyway).
inline bool popupShowsEveryEntryWhole(QComboBox *list)
{
    static QStyle *const asTheList = QStyleFactory::create(QStringLiteral("Windows"));
    list->setStyle(asTheList);
    list->showPopup();
    QAbstractItemView *view = list->view();
    bool whole = QTest::qWaitForWindowExposed(view->window());
    for (int i = 0; i < list->count(); ++i)
        whole = whole && view->sizeHintForIndex(list->model()->index(i, 0)).width() <=
                             view->viewport()->width();
    list->hidePopup();
    return whole;
}

} // namespace tarn::test
