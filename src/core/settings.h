// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"

#include <QByteArray>
#include <QString>

namespace tarn
{

// The Mod ID lives in tarn.ini as one quoted Latin-1 line ending in CR LF.
namespace settings
{

inline constexpr char kFileName[] = "tarn.ini";

// The first field of the file by the rules of delimited text input: leading
// spaces skipped; a quoted field runs to the next quote; any other field runs
// to the first comma or the end of the line; spaces trimmed from both ends.
// Empty content gives no value.
std::optional<QString> parseModId(const QByteArray &content);

// The Mod ID from the file, or "0" when it is missing, unreadable or empty.
QString ReadModID(const QString &path);

// Refuses a Mod ID that the header of a class file cannot carry.
Status checkModId(const QString &modId);

// Writes the quoted value atomically; a value that checkModId refuses is
// refused before anything is written.
Status WriteModID(const QString &path, const QString &modId);

} // namespace settings
} // namespace tarn
