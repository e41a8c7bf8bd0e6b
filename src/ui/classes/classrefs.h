// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/refstore.h"

#include <QStringList>

class QComboBox;

namespace tarn
{

// The reference rows the class editor and its table show a class with. The
// reference editors are opened from the main window only, so the rows cannot
// change while the class editor is open.
struct ClassRefs {
    struct Rows {
        QList<RefEntry> all;     // every row, by id
        QList<RefEntry> offered; // the weapons or grenades a slot list offers
    };
    Rows weapons, grenades, items, specials;

    // Reads the four tables; the messages of the reads that failed.
    QStringList read(RefStore &ref);

    const Rows &of(schema::RefKind kind) const;
    Rows &of(schema::RefKind kind);

    // The row of an id among every row; null when there is none.
    const RefEntry *rowOf(schema::RefKind kind, const QVariant &id) const;
    // The offered entry that shows a slot's id; the last of equal ids wins.
    // -1 when the id is not offered.
    int findPos(schema::RefKind kind, const QVariant &id) const;
    // A slot's id as a slot list shows it: the offered entry's name, or what the
    // id is when it is not offered ("(none)", "Rail Gun (7, not offered)").
    QString listText(schema::RefKind kind, const QVariant &id) const;
    QString notOfferedText(schema::RefKind kind, const QVariant &id) const;
};

// Makes a slot list's popup as wide as its longest entry, which a list sized
// for the usual names would cut short ("Rail Lance (5, not offered)"). Called
// whenever its entries change.
void fitPopupToEntries(QComboBox *list);

} // namespace tarn
