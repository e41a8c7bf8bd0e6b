// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QVariant>

namespace tarn
{

// The value that text typed into a field stores in a column of that kind:
// NULL for empty text; a text column takes the text as typed; a number column
// takes a number in the grammar of class files that is whole where the kind is,
// within the kind's range. A refusal names the field ("Max Speed: ...").
Result<QVariant> fieldValue(schema::Kind kind, const QString &field, const QString &text);

// A value set by a window rather than typed (a slot's id) is still never more
// than its column holds.
Status checkFieldRange(schema::Kind kind, const QString &field, const QVariant &value);

} // namespace tarn
