// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

class QLineEdit;

namespace tarn
{

// The program's icon, used by every window.
QIcon programIcon();

// Shows a line edit's clear button, named for screen readers (Qt gives it no
// name).
void enableClearButton(QLineEdit *field);

} // namespace tarn
