// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/atomicfile.h"

#include "store/textrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace tarn
{

namespace
{

// Why a file that exists cannot be replaced; empty for a regular file.
QString notRegular(const QString &path)
{
    const QFileInfo info(path); // follows symbolic links
    if (!info.exists() || info.isFile())
        return {};
    if (info.isDir())
        return QStringLiteral("this is a folder, not a file");
#ifdef Q_OS_UNIX
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISFIFO(st.st_mode))
            return QStringLiteral("this is a named pipe (FIFO), not a regular file");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return QStringLiteral("this is a device, not a regular file");
        if (S_ISSOCK(st.st_mode))
            return QStringLiteral("this is a socket, not a regular file");
    }
#endif
    return QStringLiteral("this is not a regular file");
}

} // namespace

QString AtomicFile::targetPath(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    const QString folder = info.dir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

Status AtomicFile::failure() const
{
    return Status::failure(Fault::InputOutput,
                           shownText(mFile.fileName()) + QStringLiteral(": ") + mError);
}

Status AtomicFile::open()
{
    if (const QString why = notRegular(mFile.fileName()); !why.isEmpty()) {
        mError = why;
        return failure();
    }
    if (mFile.open(QIODevice::WriteOnly))
        return Status::success();
    mError = mFile.errorString();
    return failure();
}

Status AtomicFile::failed()
{
    // A flush that came up short left the rest in the buffer: trying it
    // again makes the system name the cause in place of "Unknown error".
    mFile.flush();
    mError = mFile.errorString();
    // Sets an error text of its own, hence after taking the cause.
    mFile.cancelWriting();
    return failure();
}

Status AtomicFile::write(QByteArrayView bytes)
{
    if (!mError.isEmpty())
        return failure();
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = mFile.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return failed();
        done += written;
    }
    return Status::success();
}

Status AtomicFile::commit()
{
    if (!mError.isEmpty())
        return failure();
    if (!mFile.flush() || mFile.error() != QFileDevice::NoError)
        return failed();
    if (mFile.commit())
        return Status::success();
    mError = mFile.errorString();
    return failure();
}

void AtomicFile::cancel()
{
    if (mFile.isOpen())
        mFile.cancelWriting();
}

} // namespace tarn
