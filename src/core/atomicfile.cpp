#include "atomicfile.h"

namespace tarn
{

bool AtomicFile::open()
{
    if (mFile.open(QIODevice::WriteOnly))
        return true;
    mError = mFile.errorString();
    return false;
}

bool AtomicFile::failed()
{
    // A flush that came up short left the rest in the buffer: trying it
    // again makes the system name the cause in place of "Unknown error".
    mFile.flush();
    mError = mFile.errorString();
    // Sets an error text of its own, hence after taking the cause.
    mFile.cancelWriting();
    return false;
}

bool AtomicFile::write(QByteArrayView bytes)
{
    if (!mError.isEmpty())
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = mFile.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return failed();
        done += written;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (!mError.isEmpty())
        return false;
    if (!mFile.flush() || mFile.error() != QFileDevice::NoError)
        return failed();
    if (mFile.commit())
        return true;
    mError = mFile.errorString();
    return false;
}

void AtomicFile::cancel()
{
    if (mFile.isOpen())
        mFile.cancelWriting();
}

QString AtomicFile::errorString() const
{
    return mFile.fileName() + QStringLiteral(": ") + mError;
}

} // namespace tarn
