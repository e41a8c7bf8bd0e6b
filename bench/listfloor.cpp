// SPDX-License-Identifier: GPL-3.0-or-later
// The least a Qt program does to list the configurations: open the data file
// with QSQLITE, run the list's SELECT and print the names. The floor against
// which `tarn-cli list` is measured.

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: bench_listfloor DATA_FILE\n";
        return 2;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(argv[1]));
    if (!db.open())
        return 1;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT package_name FROM package ORDER BY package_name")))
        return 1;
    QTextStream out(stdout);
    while (query.next())
        out << query.value(0).toString() << '\n';
    return 0;
}
