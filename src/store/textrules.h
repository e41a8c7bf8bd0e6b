// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"

namespace tarn
{

// Text from a file or from the user as a message shows it: control characters
// escaped (\r, \n, \t, \x1b, ...), so that none reaches a terminal as a command
// or splits the message.
QString shownText(const QString &text);
// The same with every backslash doubled, so that a listing of stored values
// reads back unambiguously: a stored line break shows as \n, a stored
// backslash and n as \\n.
QString listedText(const QString &text);

// Refuses text that a line of a class file cannot carry: a control character
// (line breaks and tabs included), a character outside Latin-1, or more than
// maxLength characters. subject starts the message ("The Mod ID").
Status checkLineText(const QString &subject, const QString &text, qsizetype maxLength);

} // namespace tarn
