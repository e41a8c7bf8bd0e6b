// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classfile/classrecord.h"
#include "core/appstate.h"

#include <functional>

namespace tarn
{

// Progress of a class-file command: done and total (classes when exporting;
// when importing, a scale of 2 * kImportProgressHalf whose first half is the
// reading and checking of input that is no regular file, before the database
// is touched, and whose second half is storing it; a regular file is read as
// it is stored, in the second half). Returning false cancels the command,
// which then leaves nothing behind.
using ClassFileProgress = std::function<bool(qint64 done, qint64 total)>;
inline constexpr qint64 kImportProgressHalf = 1000;

// Writes the configuration as a class file, scrambled when protect is set:
// the header with the Mod ID, then the classes in class_num order. The file is
// replaced only when everything was written; anything that would not read back
// as written is refused, naming the class and the field.
Status exportClassFile(AppState &state, const QString &configName, const QString &path,
                       bool protect, const ClassFileProgress &progress = {});

// Reads a class file, plain or scrambled, into a new configuration of that
// name. The whole file is read and checked first, without holding a lock;
// then every class and the package row are stored in one short transaction,
// or nothing is. Failures name the file, the line and the cause. warnings,
// when given, gets what the reading noticed without refusing it (see
// checkClassFile).
Status importClassFile(AppState &state, const QString &newName, const QString &path,
                       const ClassFileProgress &progress = {}, QStringList *warnings = nullptr);

// Reads a class file without storing it: the number of classes, or the first
// problem as "FILE:LINE: cause". warnings, when given, gets the lines of a
// plain file whose bytes above 128 read 128 lower, as "FILE:LINE: warning:
// ...", the first few and then how many more.
Result<int> checkClassFile(const QString &path, QStringList *warnings = nullptr);

// Every class of a class file in file order, each to onClass; the failure as
// checkClassFile gives it, or onClass's own.
Status readClassFile(const QString &path,
                     const std::function<Status(const classfile::ClassRecord &)> &onClass);

} // namespace tarn
