// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"

#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

namespace tarn
{

// A file replaced whole or not at all, with every step checked: on Qt 6.4
// QSaveFile::commit() can report success after a failed write, and a short
// write (a full disk, a file size limit) comes without a cause unless the
// rest is tried again, which makes the system name it.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &path) : mFile(path) {}
    // Without a commit the earlier file stays.
    ~AtomicFile() { cancel(); }
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Refuses a target that exists and is not a regular file (a folder, a
    // FIFO, a device): the rename at the end would replace it with one.
    // Failures read "PATH: cause"; after one, every call fails the same way.
    Status open();
    Status write(QByteArrayView bytes);
    // Flushes, checks and renames the file into place; a failure leaves the
    // earlier file as it was.
    Status commit();
    // Drops what was written; the earlier file stays.
    void cancel();

    // The file a save to path replaces, as QSaveFile finds it: symbolic links
    // followed even when the last one dangles, the folder in canonical form.
    static QString targetPath(const QString &path);

private:
    Status failed();
    Status failure() const;

    QSaveFile mFile;
    QString mError;
};

} // namespace tarn
