#include "datacontrol.h"
#include "frmclasses.h"
#include "frmconfig.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

using namespace tarn;
using namespace tarn::test;

// Failures from outside: a directory that cannot be written, a full disk and
// a data file locked by another process. Each must be reported with the file
// and the cause, and lose nothing.
class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modIdNotWritten_data();
    void modIdNotWritten();
    void lockedDataFile_data();
    void lockedDataFile();
    void lockedDuringClassEditorWriteBack();
};

namespace
{

// Holds an exclusive lock on a database file from another process.
class LockHolder
{
public:
    explicit LockHolder(const QString &path)
    {
        mProcess.start(QStringLiteral("sqlite3"), {path});
        mProcess.waitForStarted();
        mProcess.write("BEGIN EXCLUSIVE; SELECT 'locked';\n");
        mProcess.waitForReadyRead(5000);
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (mProcess.state() == QProcess::NotRunning)
            return;
        mProcess.write("COMMIT;\n.quit\n");
        mProcess.closeWriteChannel();
        mProcess.waitForFinished(5000);
    }
    bool holding() const { return mProcess.state() == QProcess::Running; }

private:
    QProcess mProcess;
};

} // namespace

void tst_Faults::initTestCase()
{
    qputenv("TARN_BUSY_TIMEOUT_MS", "100");
}

void tst_Faults::modIdNotWritten_data()
{
    QTest::addColumn<QStringList>("wrapper"); // runs tarn-cli under a restriction
    QTest::addColumn<QString>("cause");
    QTest::newRow("directory not writable")
        << QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}
        << QStringLiteral("not writable");
    // The shell ignores SIGXFSZ so that a write beyond the limit fails instead.
    QTest::newRow("disk full") << QStringList{"sh", "-c",
                                              "trap '' XFSZ; exec prlimit --fsize=2 \"$@\"", "sh"}
                               << QStringLiteral("tarn.ini");
}

void tst_Faults::modIdNotWritten()
{
    QFETCH(QStringList, wrapper);
    QFETCH(QString, cause);
    if (wrapper.first() == QLatin1String("setpriv") && getuid() != 0)
        QSKIP("only root can run a command as another user");
    DataDir dir;
    const QString ini = dir.file(QStringLiteral("tarn.ini"));
    writeFile(ini, "\"old\"\r\n");
    // Readable by anyone, writable by the owner (root) only.
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                          QFile::ExeGroup);
    for (const QString &file : {dir.dataPath(), dir.refPath(), ini})
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                        QFile::ReadGroup);
    QProcess cli;
    cli.start(wrapper.first(), wrapper.mid(1) + QStringList{TARN_CLI, "--data-dir", dir.path(),
                                                            "mod-id", "new value"});
    QVERIFY(cli.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.contains(QStringLiteral("The Mod ID was not saved")), qPrintable(err));
    QVERIFY2(err.contains(ini) && err.contains(cause), qPrintable(err));
    QCOMPARE(readFile(ini), QByteArray("\"old\"\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no temporary file left
}

void tst_Faults::lockedDataFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("new") << "btNew";
    QTest::newRow("make copy") << "btCopy";
    QTest::newRow("delete") << "btDelete";
}

void tst_Faults::lockedDataFile()
{
    QFETCH(QString, command);
    DataDir dir;
    AppState &state = dir.start();
    ScriptedPrompter prompter;
    frmConfig window(state, prompter);
    window.findChild<QListWidget *>(QStringLiteral("classlist"))->setCurrentRow(0);
    prompter.answerInput(QStringLiteral("Another"));
    prompter.answerMessage(Prompter::Answer::Yes);
    {
        LockHolder lock(dir.dataPath());
        QVERIFY(lock.holding());
        window.findChild<QPushButton *>(command)->click();
    }
    const QString message = prompter.lastMessage();
    QVERIFY2(message.contains(dir.dataPath()) && message.contains(QStringLiteral("locked")),
             qPrintable(message));
    QCOMPARE(prompter.busyDepth(), 0);
    Peek peek(dir.dataPath());
    QCOMPARE(peek.count(QStringLiteral("package")), 1);
    QCOMPARE(peek.count(QStringLiteral("classdef")), 2);
}

void tst_Faults::lockedDuringClassEditorWriteBack()
{
    DataDir dir;
    AppState &state = dir.start();
    state.setCurrentPackage(QStringLiteral("Sample Config"));
    ScriptedPrompter prompter;
    frmClasses editor(state, prompter);
    editor.show();
    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("fldClassName"));
    name->setText(QStringLiteral("Kept through the lock"));
    {
        LockHolder lock(dir.dataPath());
        QVERIFY(!editor.navigator()->moveNext());
        QVERIFY(!editor.close());
        QVERIFY(prompter.lastMessage().contains(QStringLiteral("locked")));
        QCOMPARE(name->text(), QStringLiteral("Kept through the lock"));
    }
    QVERIFY(editor.navigator()->moveNext());
    QCOMPARE(Peek(dir.dataPath())
                 .scalar(QStringLiteral("SELECT class_name FROM classdef WHERE class_num = 1"))
                 .toString(),
             QStringLiteral("Kept through the lock"));
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
