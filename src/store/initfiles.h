#pragma once

#include "status.h"

namespace tarn
{

// Create a new data or reference database with the schema, and with sample
// rows when asked. An existing file is never overwritten; a failure leaves no
// file behind.
Status createDataFile(const QString &path, bool sample);
Status createRefFile(const QString &path, bool sample);

} // namespace tarn
