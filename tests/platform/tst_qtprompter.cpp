#include "platform/qtprompter.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

using namespace tarn;

class tst_QtPrompter : public QObject
{
    Q_OBJECT

private slots:
    void progressEndsWithTheLastReport_data();
    void progressEndsWithTheLastReport();
};

void tst_QtPrompter::progressEndsWithTheLastReport_data()
{
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<QList<qint64>>("reports");
    QTest::addColumn<bool>("stillPending");
    QTest::newRow("nothing to do") << qint64(0) << QList<qint64>{0} << false;
    QTest::newRow("started and finished") << qint64(100) << QList<qint64>{0, 100} << false;
    QTest::newRow("first report is the last") << qint64(100) << QList<qint64>{100} << false;
    QTest::newRow("work under way") << qint64(100) << QList<qint64>{0} << true;
}

// A dialog that is to come up later waits on a timer of its own: once the
// work is done that timer must be stopped, or the dialog appears over
// whatever the command shows next.
void tst_QtPrompter::progressEndsWithTheLastReport()
{
    QFETCH(qint64, maximum);
    QFETCH(QList<qint64>, reports);
    QFETCH(bool, stillPending);
    QtPrompter prompter;
    std::unique_ptr<Progress> progress = prompter.progress("Working...", maximum);
    for (qint64 done : reports)
        QVERIFY(progress->update(done));
    QProgressDialog *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QProgressDialog *>(w))
            dialog = d;
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    bool pending = false;
    for (const QTimer *timer : dialog->findChildren<QTimer *>())
        pending = pending || timer->isActive();
    QCOMPARE(pending, stillPending);
}

QTEST_MAIN(tst_QtPrompter)
#include "tst_qtprompter.moc"
