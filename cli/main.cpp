// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"
#include "core/startup.h"

#include <QCoreApplication>
#include <QFile>

namespace
{

// Standard output when it was closed: every write fails, saying why.
class ClosedOutput : public QIODevice
{
public:
    ClosedOutput() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override
    {
        setErrorString(QStringLiteral("standard output is closed"));
        return -1;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    const bool outputClosed = tarn::guardStandardStreams();
    tarn::quietQtMessages();
    QCoreApplication app(argc, argv);
    tarn::setApplicationIdentity();
    ClosedOutput closed;
    QFile standardOutput;
    if (!outputClosed)
        standardOutput.open(stdout, QIODevice::WriteOnly);
    QTextStream out(outputClosed ? static_cast<QIODevice *>(&closed) : &standardOutput);
    QTextStream err(stderr);
    return tarn::cli::run(QCoreApplication::arguments().mid(1), out, err);
}
