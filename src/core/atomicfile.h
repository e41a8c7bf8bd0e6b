#pragma once

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
    bool open();
    bool write(QByteArrayView bytes);
    // Flushes, checks and renames the file into place; false leaves the
    // earlier file as it was.
    bool commit();
    // Drops what was written; the earlier file stays.
    void cancel();
    // "PATH: cause" of the failure.
    QString errorString() const;

    // The file a save to path replaces, as QSaveFile finds it: symbolic links
    // followed even when the last one dangles, the folder in canonical form.
    static QString targetPath(const QString &path);

private:
    bool failed();

    QSaveFile mFile;
    QString mError;
};

} // namespace tarn
