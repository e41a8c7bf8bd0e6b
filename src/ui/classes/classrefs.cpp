// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/classrefs.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QScrollBar>
#include <QStyleOptionComboBox>

#include <array>

namespace tarn
{

using schema::RefKind;

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("frmClasses", text);
}

bool sameId(const RefEntry &row, const QVariant &id)
{
    return !row.id.isNull() && row.id.toDouble() == id.toDouble();
}

} // namespace

QStringList ClassRefs::read(RefStore &ref)
{
    QStringList failures;
    constexpr std::array offeredKinds{RefKind::Weapon, RefKind::Grenade};
    ref.readAhead(schema::refKinds(), offeredKinds);
    for (RefKind kind : schema::refKinds()) {
        Result<QList<RefEntry>> all = ref.all(kind);
        if (all)
            of(kind).all = *all;
        else
            failures << all.message();
        if (kind != RefKind::Weapon && kind != RefKind::Grenade)
            continue;
        Result<QList<RefEntry>> offered = ref.offered(kind);
        if (offered)
            of(kind).offered = *offered;
        else
            failures << offered.message();
    }
    return failures;
}

const ClassRefs::Rows &ClassRefs::of(RefKind kind) const
{
    switch (kind) {
    case RefKind::Weapon:
        return weapons;
    case RefKind::Grenade:
        return grenades;
    case RefKind::Item:
        return items;
    case RefKind::Special:
        break;
    }
    return specials;
}

ClassRefs::Rows &ClassRefs::of(RefKind kind)
{
    return const_cast<Rows &>(std::as_const(*this).of(kind));
}

const RefEntry *ClassRefs::rowOf(RefKind kind, const QVariant &id) const
{
    for (const RefEntry &row : of(kind).all)
        if (sameId(row, id))
            return &row;
    return nullptr;
}

int ClassRefs::findPos(RefKind kind, const QVariant &id) const
{
    if (id.isNull())
        return -1;
    int pos = -1;
    const QList<RefEntry> &rows = of(kind).offered;
    for (int i = 0; i < rows.size(); ++i)
        if (sameId(rows.at(i), id))
            pos = i;
    return pos;
}

QString ClassRefs::listText(RefKind kind, const QVariant &id) const
{
    const int pos = findPos(kind, id);
    return pos >= 0 ? of(kind).offered.at(pos).name : notOfferedText(kind, id);
}

QString ClassRefs::notOfferedText(RefKind kind, const QVariant &id) const
{
    if (id.isNull())
        return tr("(no value)");
    if (id.toDouble() == 0.0)
        return tr("(none)");
    if (const RefEntry *row = rowOf(kind, id))
        return tr("%1 (%2, not offered)").arg(row->name, id.toString());
    return kind == RefKind::Weapon ? tr("%1 (no such weapon)").arg(id.toString())
                                   : tr("%1 (no such grenade)").arg(id.toString());
}

void fitPopupToEntries(QComboBox *list)
{
    // As wide as the list itself would be to show its longest entry: item
    // views of some styles size every entry as the list, whatever its text.
    QAbstractItemView *view = list->view();
    int text = 0;
    for (int i = 0; i < list->count(); ++i)
        text = qMax(text, view->fontMetrics().horizontalAdvance(list->itemText(i)));
    QStyleOptionComboBox option;
    option.initFrom(list);
    int width =
        list->style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text, 0), list).width();
    if (list->count() > list->maxVisibleItems())
        width += view->verticalScrollBar()->sizeHint().width();
    view->setMinimumWidth(width);
}

} // namespace tarn
