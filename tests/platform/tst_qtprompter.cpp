#include "platform/qtprompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

using namespace tarn;

class tst_QtPrompter : public QObject
{
    Q_OBJECT

private slots:
    void progressEndsWithTheLastReport_data()
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
    void progressEndsWithTheLastReport()
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

    void typedTextEcho_data()
    {
        QTest::addColumn<bool>("password");
        QTest::addColumn<int>("echo"); // QLineEdit::EchoMode
        QTest::newRow("input") << false << int(QLineEdit::Normal);
        QTest::newRow("password") << true << int(QLineEdit::Password);
    }

    // A password is typed unseen, and comes back as typed.
    void typedTextEcho()
    {
        QFETCH(bool, password);
        QFETCH(int, echo);
        QtPrompter prompter;
        int seenEcho = -1;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto *field = dialog->findChild<QLineEdit *>();
            QVERIFY(field);
            seenEcho = field->echoMode();
            QTest::keyClicks(field, "s3cret");
            dialog->accept();
        });
        const QString typed = password
                                  ? prompter.password("Password for the team database:", "Password")
                                  : prompter.input("Name:", "Name", QString());
        QCOMPARE(seenEcho, echo);
        QCOMPARE(typed, QStringLiteral("s3cret"));
    }
};

QTEST_MAIN(tst_QtPrompter)
#include "tst_qtprompter.moc"
