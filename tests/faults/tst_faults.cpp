#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "store/schema.h"
#include "testsupport.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmconfig.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <QTemporaryDir>

#include <csignal>

#include <sys/stat.h>
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
    void notWritten_data();
    void notWritten();
    void lockedDataFile_data();
    void lockedDataFile();
    void lockedDuringClassEditorWriteBack();
    void importFromPipe_data();
    void importFromPipe();
};

namespace
{

// A second connection holding a database file's exclusive lock, as another
// instance of the program would.
struct LockHolder : Peek {
    explicit LockHolder(const QString &path) : Peek(path) { exec("BEGIN EXCLUSIVE"); }
};

// One class of a class file, after its two header lines.
const QByteArray kBlock = "\r\n[Scout]\r\nmale grunt blue 3\r\n1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n"
                          "50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

// Wrappers that run tarn-cli under a restriction.
const QStringList kAsNobody{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
// The shell ignores SIGXFSZ so that a write beyond the limit fails instead.
QStringList fileSizeLimit(int bytes)
{
    return {"sh", "-c", QStringLiteral("trap '' XFSZ; exec prlimit --fsize=%1 \"$@\"").arg(bytes),
            "sh"};
}

} // namespace

void tst_Faults::initTestCase()
{
    qputenv("TARN_BUSY_TIMEOUT_MS", "100");
}

void tst_Faults::notWritten_data()
{
    QTest::addColumn<QStringList>("wrapper"); // runs tarn-cli under a restriction
    QTest::addColumn<QStringList>("args");    // %1: the file it writes
    QTest::addColumn<int>("doublings");       // of the sample configuration's classes
    QTest::addColumn<QStringList>("says");
    const QStringList modId{"mod-id", "new value"}, exportTo{"export", "Sample Config", "%1"};
    const QString notSaved = "The Mod ID was not saved.\n%1",
                  notExported = "Could not export the configuration 'Sample Config' to %1.\n%1: ";
    QTest::newRow("Mod ID, directory not writable")
        << kAsNobody << modId << 0 << QStringList{notSaved, "Permission denied"};
    QTest::newRow("Mod ID, disk full")
        << fileSizeLimit(2) << modId << 0 << QStringList{notSaved, "File too large"};
    QTest::newRow("export, directory not writable")
        << kAsNobody << exportTo << 0 << QStringList{notExported, "Permission denied"};
    // The whole file fits the write buffer: the failure shows only when it is flushed.
    QTest::newRow("export, disk full at the end")
        << fileSizeLimit(64) << exportTo << 0 << QStringList{notExported, "File too large"};
    QTest::newRow("new, directory not writable")
        << kAsNobody << QStringList{"new", "X"} << 0
        << QStringList{
               "Could not add the configuration 'X'.\n%D/tarn_dat.mdb: the folder %D must be "
               "writable, since SQLite keeps the file's journal there"};
    QTest::newRow("export, disk full midway")
        << fileSizeLimit(4096) << exportTo << 12 << QStringList{notExported, "File too large"};
}

void tst_Faults::notWritten()
{
    QFETCH(QStringList, wrapper);
    QFETCH(QStringList, args);
    QFETCH(int, doublings);
    QFETCH(QStringList, says);
    if (wrapper.first() == "setpriv" && getuid() != 0)
        QSKIP("only root can run a command as another user");
    DataDir dir;
    for (int i = 0; i < doublings; ++i)
        Peek(dir.dataPath())
            .exec(QStringLiteral("INSERT INTO classdef (%1) SELECT %1 FROM classdef")
                      .arg(schema::joined(schema::classdefColumnNames())));
    const QString file = dir.file(args.first() == "mod-id" ? "tarn.ini" : "earlier.class");
    writeFile(file, "\"old\"\r\n");
    // Only the owner (root) may add files; the files themselves may be written by anyone.
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    for (const QString &path : {dir.dataPath(), dir.refPath()})
        chmod(QFile::encodeName(path).constData(), 0666);
    chmod(QFile::encodeName(file).constData(), 0646);
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);

    QProcess cli;
    cli.start(wrapper.first(), wrapper.mid(1) + QStringList{TARN_CLI, "--data-dir", dir.path()} +
                                   args.replaceInStrings("%1", file));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    for (const QString &text : says)
        QVERIFY2(err.contains(QString(text).replace("%1", file).replace("%D", dir.path())),
                 qPrintable(err));
    QCOMPARE(readFile(file), QByteArray("\"old\"\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files); // no temporary file left
}

void tst_Faults::lockedDataFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("new") << "btNew";
    QTest::newRow("make copy") << "btCopy";
    QTest::newRow("import") << "btImport";
}

void tst_Faults::lockedDataFile()
{
    QFETCH(QString, command);
    DataDir dir;
    AppState &state = dir.start();
    ScriptedPrompter prompter;
    frmConfig window(state, prompter);
    window.findChild<QListWidget *>("classlist")->setCurrentRow(0);
    prompter.answerInput("Another");
    const QString classFile = dir.file("one.class");
    writeFile(classFile, "V3 1\r\nC\r\n" + kBlock);
    prompter.answerFile(classFile);
    {
        LockHolder lock(dir.dataPath());
        window.findChild<QPushButton *>(command)->click();
    }
    const QString message = prompter.lastMessage();
    QVERIFY2(message.contains(dir.dataPath()) && message.contains("locked"), qPrintable(message));
    QCOMPARE(prompter.busyDepth(), 0);
    Peek peek(dir.dataPath());
    QCOMPARE(peek.count("package"), 1);
    QCOMPARE(peek.count("classdef"), 2);
}

void tst_Faults::lockedDuringClassEditorWriteBack()
{
    DataDir dir;
    AppState &state = dir.start();
    state.setCurrentPackage("Sample Config");
    ScriptedPrompter prompter;
    frmClasses editor(state, prompter);
    editor.show();
    auto *name = editor.findChild<QLineEdit *>("fldClassName");
    name->setText("Kept through the lock");
    {
        LockHolder lock(dir.dataPath());
        QVERIFY(!editor.navigator()->moveNext());
        QVERIFY(!editor.close());
        QVERIFY(prompter.lastMessage().contains("locked"));
        QCOMPARE(name->text(), "Kept through the lock");
    }
    QVERIFY(editor.navigator()->moveNext());
    QCOMPARE(Peek(dir.dataPath())
                 .scalar("SELECT class_name FROM classdef WHERE class_num = 1")
                 .toString(),
             "Kept through the lock");
}

void tst_Faults::importFromPipe_data()
{
    QTest::addColumn<bool>("interrupt"); // Ctrl+C while tarn-cli waits for the rest
    QTest::newRow("the writer closes") << false;
    QTest::newRow("interrupted") << true;
}

void tst_Faults::importFromPipe()
{
    QFETCH(bool, interrupt);
    DataDir dir;
    const QString fifo = dir.file("in.fifo");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::System);
    QTemporaryDir tmp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.path());
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(TARN_CLI, {"--data-dir", dir.path(), "import", "Piped", fifo});
    QVERIFY(cli.waitForStarted());
    QTest::qWait(200); // tarn-cli now waits for a writer to open the pipe
    AppState &state = dir.start();
    QVERIFY(state.data().createPackage("Before"));
    QCOMPARE(cli.state(), QProcess::Running);
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    QVERIFY(writer.write("V3 1\r\nC\r\n" + kBlock) > 0 && writer.flush());
    QTest::qWait(100); // and now for the rest of the file
    QVERIFY(state.data().createPackage("Meanwhile"));
    if (interrupt)
        kill(pid_t(cli.processId()), SIGINT);
    else
        QVERIFY(writer.write(kBlock) > 0 && writer.flush());
    writer.close();
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), interrupt ? 130 : 0);
    Peek peek(dir.dataPath());
    QCOMPARE(peek.scalar("SELECT count(*) FROM classdef WHERE package_name = 'Piped'").toInt(),
             interrupt ? 0 : 2);
    QCOMPARE(peek.count("package"), interrupt ? 3 : 4);
    // No journal, no temporary copy left.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System), files);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
