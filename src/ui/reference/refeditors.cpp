// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/reference/refeditors.h"

#include "ui/reference/flageditor.h"

namespace tarn
{

namespace
{

using schema::RefKind;

const EditorNames kNames[] = {
    {RefKind::Weapon, "frmWeapons", "Edit Weapons", "dbWeapons", "Weapons",
     "Weapon ID:", "Weapon Name:"},
    {RefKind::Grenade, "frmGrenades", "Edit Grenades", "dbGrenades", "Grenades",
     "Grenade ID:", "Grenade Name:"},
    {RefKind::Item, "frmItems", "Edit Items", "dbItems", "Items", "Item ID:", "Items Name:"},
    {RefKind::Special, "frmSpecial", "Edit Special", "dbSpecial", "Special",
     "Special ID:", "Special Name:"},
};

} // namespace

std::unique_ptr<RecordDialog> makeRefEditor(RefKind kind, AppState &state, Prompter &prompter,
                                            QWidget *parent)
{
    const EditorNames &names = kNames[static_cast<size_t>(kind)];
    std::unique_ptr<RefEditor> editor;
    if (kind == RefKind::Item || kind == RefKind::Special)
        editor = std::make_unique<FlagEditor>(names, state, prompter, parent);
    else
        editor = std::make_unique<RefEditor>(names, RefEditor::weaponRows(names), state, prompter,
                                             parent);
    editor->Form_Load();
    return editor;
}

} // namespace tarn
