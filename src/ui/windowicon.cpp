// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windowicon.h"

#include <QLineEdit>
#include <QToolButton>

namespace tarn
{

QIcon programIcon()
{
    static const QIcon icon(QStringLiteral(":/tarn/tarn.svg"));
    return icon;
}

void enableClearButton(QLineEdit *field)
{
    field->setClearButtonEnabled(true);
    for (QToolButton *clear : field->findChildren<QToolButton *>())
        clear->setAccessibleName(QObject::tr("Clear"));
}

} // namespace tarn
