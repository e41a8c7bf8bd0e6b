// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"

#include <memory>

class QWidget;

namespace tarn
{

class AppState;
class Prompter;
class RecordDialog;

// The editor of one reference table (frmWeapons, frmGrenades, frmItems,
// frmSpecial), loaded and showing the row with the lowest id.
std::unique_ptr<RecordDialog> makeRefEditor(schema::RefKind kind, AppState &state,
                                            Prompter &prompter, QWidget *parent = nullptr);

} // namespace tarn
