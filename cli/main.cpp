#include "cli.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarn-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tarn::cli::run(QCoreApplication::arguments().mid(1), out, err);
}
