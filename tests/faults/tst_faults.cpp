// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/startup.h"
#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "store/schema.h"
#include "testsupport.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmconfig.h"
#include "ui/reference/refeditors.h"

#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarn;
using namespace tarn::test;

namespace
{

// One class of a class file, after its two header lines.
const QByteArray kBlock = "\r\n[Scout]\r\nmale grunt blue 3\r\n1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n"
                          "50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

// Wrappers that run tarn-cli under a restriction; the shell ignores SIGXFSZ so
// that a write beyond the size limit fails instead.
const QStringList kAsNobody{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
QStringList shell(const QString &script)
{
    return {"sh", "-c", script, "sh"};
}
QStringList sizeLimit(int bytes)
{
    return shell(QStringLiteral("trap '' XFSZ; exec prlimit --fsize=%1 \"$@\"").arg(bytes));
}

struct NotWritten {
    const char *name;
    QStringList wrapper, args; // args: %1 for the file it writes
    QString says, cause{};
    int doublings = 0; // of the sample configuration's classes
    int code = 1;      // diff's failure is 3: its 1 says "different"
};

} // namespace

// Failures from outside: a directory that cannot be written, a full disk, the
// data locked by another process, a server that stops. Each must be reported
// with the file and the cause, and lose nothing.
class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TARN_BUSY_TIMEOUT_MS", "100"); }

    void notWritten_data()
    {
        const QStringList modId{"mod-id", "new value"}, exportTo{"export", "Sample Config", "%1"};
        const QString notSaved = "The Mod ID was not saved.\n%1",
                      notExported = "Could not export the configuration 'Sample Config' to "
                                    "%1.\n%1: ",
                      denied = "Permission denied", tooLarge = "File too large",
                      unwritten = "tarn-cli: the output could not be written: ";
        addRows<NotWritten>({
            {"Mod ID, directory not writable", kAsNobody, modId, notSaved, denied},
            {"Mod ID, disk full", sizeLimit(2), modId, notSaved, tooLarge},
            {"export, directory not writable", kAsNobody, exportTo, notExported, denied},
            // The whole file fits the write buffer: the failure shows only when it is flushed.
            {"export, disk full at the end", sizeLimit(64), exportTo, notExported, tooLarge},
            {"export, disk full midway", sizeLimit(4096), exportTo, notExported, tooLarge, 12},
            {"new, directory not writable", kAsNobody, QStringList{"new", "X"},
             "Could not add the configuration 'X'.\n%D/tarn_dat.mdb: the folder %D must be "
             "writable, since SQLite keeps the file's journal there"},
            // Standard output broken: every command writes through the one stream that is
            // checked, so each way is tried with one of them.
            {"list, standard output on a full disk",
             shell("exec \"$@\" >/dev/full"),
             {"list"},
             unwritten},
            {"diff, standard output closed", shell("exec \"$@\" >&-"),
             QStringList{"diff", "Sample Config", "%1"}, unwritten, "standard output is closed", 0,
             3},
            {"show, standard output over the file-size limit", sizeLimit(1),
             QStringList{"show", "Sample Config"}, unwritten},
        });
    }

    void notWritten()
    {
        QFETCH(NotWritten, row);
        if (row.wrapper.first() == "setpriv" && getuid() != 0)
            QSKIP("only root can run a command as another user");
        if (onTestServer() && (row.args.first() == "mod-id" || row.args.first() == "new"))
            QSKIP("a server keeps the Mod ID and the journal itself, not in the folder");
        DataDir dir;
        for (int i = 0; i < row.doublings; ++i)
            Peek(dir.dataPath())
                .exec(QStringLiteral("INSERT INTO classdef (%1) SELECT %1 FROM classdef")
                          .arg(schema::joined(schema::classdefColumnNames())));
        const QString file = dir.file(row.args.first() == "mod-id" ? "tarn.ini" : "earlier.class");
        const QByteArray old =
            row.args.first() == "diff" ? "V3 1\r\nC\r\n" + kBlock : "\"old\"\r\n";
        writeFile(file, old);
        // Only the owner (root) may add files; the files themselves may be written by anyone.
        chmod(QFile::encodeName(dir.path()).constData(), 0755);
        for (const QString &path : {dir.file("tarn_dat.mdb"), dir.file("tarn_ref.mdb"), file})
            chmod(QFile::encodeName(path).constData(), path == file ? 0646 : 0666);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);

        QProcess cli;
        const QTemporaryDir out; // a file, for the limit on a file's size to apply
        cli.setStandardOutputFile(out.filePath("out"));
        cli.start(row.wrapper.first(), row.wrapper.mid(1) + QStringList{TARN_CLI} +
                                           cliLocation(dir.location()) +
                                           row.args.replaceInStrings("%1", file));
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), row.code);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains(row.says.replace("%1", file).replace("%D", dir.path())) &&
                     err.contains(row.cause),
                 qPrintable(err));
        QCOMPARE(readFile(file), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files); // no temporary file left
    }

    void refusedThenDone_data()
    {
        QTest::addColumn<QString>("action"); // a button of the main window, or an editor
        QTest::addColumn<int>("added");      // rows the command adds: a package and its classes
        QTest::addColumn<bool>("restart");   // the server stops; else another writer holds the lock
        const QStringList actions{"btNew", "btCopy", "btImport", "class editor", "weapon editor"};
        for (const bool restart : {false, true})
            for (int i = 0; i < actions.size(); ++i)
                QTest::addRow("%s, %s", qPrintable(actions[i]), restart ? "restarted" : "locked")
                    << actions[i] << QList{1, 3, 2, 0, 0}[i] << restart;
    }

    // A command or an editor's write-back is refused while the fault lasts, says
    // why and where, stores nothing and keeps the edit in its field; done again
    // after the fault has gone, it stores the edit alone.
    void refusedThenDone()
    {
        QFETCH(QString, action);
        QFETCH(int, added);
        QFETCH(bool, restart);
        if (restart && !onTestServer())
            QSKIP("needs the test server");
        std::optional<DataDir> dir;
        OwnServer server;
        const QString location = restart ? server.startWithSample() : dir.emplace().location();
        QVERIFY(!location.isEmpty());
        AppState state(location);
        QVERIFY(startUp(state).status);
        state.setCurrentPackage("Sample Config");
        ScriptedPrompter prompter;
        frmConfig main(state, prompter);
        main.findChild<QListWidget *>("classlist")->setCurrentRow(0);
        const bool weapons = action == "weapon editor";
        std::unique_ptr<RecordDialog> editor;
        if (action == "class editor")
            editor = std::make_unique<frmClasses>(state, prompter);
        else if (weapons)
            editor = makeRefEditor(schema::RefKind::Weapon, state, prompter);
        const QString table = weapons ? "weapon" : "classdef",
                      column = weapons ? "w_name" : "class_name",
                      path = weapons ? state.refPath() : state.dataPath();
        const Database &db = weapons ? state.ref().database() : state.data().database();
        const auto rows = [&] {
            return Peek(state.dataPath()).rows("SELECT * FROM package ORDER BY rowid") +
                   Peek(path).rows("SELECT * FROM " + table + " ORDER BY rowid");
        };
        const QTemporaryDir files;
        writeFile(files.filePath("one.class"), "V3 1\r\nC\r\n" + kBlock);
        const auto act = [&] {
            if (editor)
                return editor->findChild<DataControl *>()->moveNext();
            prompter.answerInput("Another");
            prompter.answerFile(files.filePath("one.class"));
            child<QPushButton>(&main, qPrintable(action))->click();
            return prompter.messages().filter(db.where()).isEmpty();
        };
        const QList<QVariantMap> before = rows();
        QLineEdit *field =
            editor ? child<QLineEdit>(editor.get(), weapons ? "Text2" : "fldClassName") : nullptr;
        const QString shown = field ? field->text() : QString();
        if (editor) {
            editor->show();
            field->setText("Kept through the fault");
        }
        {
            // The server stopped the quick way, as a crash or an administrator's restart
            // would; or a second connection holding the write lock, as another instance
            // would: a file's exclusive lock, or a server's advisory lock of the data
            // tables (key 1) or of the reference tables (key 2).
            QVERIFY(!restart || server.run("halt"));
            const auto lock = restart ? nullptr : std::make_unique<Peek>(path);
            if (lock)
                lock->exec(lock->onServer()
                               ? QString("SELECT pg_advisory_lock(7305, %1)").arg(weapons ? 2 : 1)
                               : "BEGIN EXCLUSIVE");
            const QDeadlineTimer soon(10000);
            QVERIFY(!act());
            QVERIFY(!editor || !editor->close());
            QVERIFY(!soon.hasExpired());
            QCOMPARE(prompter.messages().size(), editor ? 2 : 1);
            for (const QString &refused : prompter.messages())
                QVERIFY2(refused.contains(db.where()) && !refused.contains("()") &&
                             refused.contains(restart ? "connection to the server was lost"
                                                      : "is locked"),
                         qPrintable(refused));
            QCOMPARE(prompter.busyDepth(), 0);
            QVERIFY(!field || field->text() == "Kept through the fault");
            QVERIFY(!restart || server.run("resume"));
        }
        QCOMPARE(rows(), before);
        prompter = ScriptedPrompter();
        QVERIFY2(act(), qPrintable(prompter.lastMessage()));
        if (editor) { // the edit, and nothing else, was stored
            const Peek peek(path);
            const QString where = " WHERE " + column + " = 'Kept through the fault'";
            QCOMPARE(peek.scalar("SELECT count(*) FROM " + table + where).toInt(), 1);
            peek.exec("UPDATE " + table + " SET " + column + " = ?" + where, {shown});
        }
        const QList<QVariantMap> after = rows();
        QCOMPARE(after.size(), before.size() + added);
        QVERIFY(added || after == before);
    }

    void importFromPipe_data()
    {
        QTest::addColumn<bool>("interrupt"); // Ctrl+C while tarn-cli waits for the rest
        QTest::newRow("the writer closes") << false;
        QTest::newRow("interrupted") << true;
    }

    void importFromPipe()
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
        cli.start(TARN_CLI, cliLocation(dir.location()) + QStringList{"import", "Piped", fifo});
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
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
