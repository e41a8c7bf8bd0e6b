#pragma once

#include <QIcon>

namespace tarn
{

// The program's icon, used by every window.
QIcon programIcon();

} // namespace tarn
