#include "cli.h"
#include "core/startup.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tarn::setApplicationIdentity();
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tarn::cli::run(QCoreApplication::arguments().mid(1), out, err);
}
