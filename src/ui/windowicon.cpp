#include "ui/windowicon.h"

namespace tarn
{

QIcon programIcon()
{
    static const QIcon icon(QStringLiteral(":/tarn/tarn.svg"));
    return icon;
}

} // namespace tarn
