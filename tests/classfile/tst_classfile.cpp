// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/classfilereader.h"
#include "classfile/classfilewriter.h"
#include "classfile/linecodec.h"

#include <QTest>

using namespace tarn::classfile;

namespace
{

// The class names read, or "error LINE: cause".
QString readAll(const QByteArray &file)
{
    ClassFileReader reader(memorySource(std::string_view(file.constData(), size_t(file.size()))));
    ClassRecord record;
    QStringList names;
    for (;;) {
        switch (reader.next(record)) {
        case ClassFileReader::Step::Class:
            names << QString::fromLatin1(record.name);
            break;
        case ClassFileReader::Step::End:
            for (const LoweredByte &at : reader.lowered())
                names.last() += QStringLiteral(" %1:%2").arg(at.line).arg(at.byte, 0, 16);
            if (reader.loweredLines() > 0)
                names.last() += QStringLiteral(" of %1").arg(reader.loweredLines());
            return names.join(QStringLiteral(", "));
        case ClassFileReader::Step::Error:
            return QStringLiteral("error %1: %2")
                .arg(reader.error().line)
                .arg(QString::fromLatin1(reader.error().cause));
        }
    }
}

const QByteArray kBlock =
    "[A]\r\nm s1 s2 3\r\n1 2 3 4 5 6 7 8 9 10\r\n1 2 3\r\n50 340 90  5  3\r\n1 2 3 4 5 6\r\n";

} // namespace

class tst_ClassFile : public QObject
{
    Q_OBJECT

private slots:
    void codec_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("protectedLine");
        QTest::addColumn<QByteArray>("unprotectedLine");
        QTest::newRow("printable")
            << QByteArray("a ~") << QByteArray("\xE1\xA0\xFE") << QByteArray("a ~");
        QTest::newRow("30 stays, 31 moves")
            << QByteArray("\x09\x1E\x1F") << QByteArray("\x09\x1E\x9F")
            << QByteArray("\x09\x1E\x1F");
        // Codes above 127 only stand in the header: they pass as they are.
        QTest::newRow("above 127")
            << QByteArray("\x80\x81\xFF\x10") << QByteArray("\x80\x81\xFF\x10")
            << QByteArray("\x80\x01\x7F\x10");
    }

    void codec()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, protectedLine);
        QFETCH(QByteArray, unprotectedLine);
        QCOMPARE(QByteArray::fromStdString(ProtectLine(line.toStdString(), true)), protectedLine);
        QCOMPARE(QByteArray::fromStdString(UnprotectLine(line.toStdString(), true)),
                 unprotectedLine);
    }

    void numbers_data()
    {
        // A field, then its 16-bit value and its value as a flag sum ("out" of range,
        // "nan" for not a number). Halves round to the even neighbour; sums down.
        QTest::addColumn<QString>("result");
        const QString rows =
            "+7=7 7; 2.5=2 2; 3.5=4 3; -2.5=-2 -3; 1.5e2=150 150; 32767.5=out 32767; "
            "32767=32767 32767; -32768=-32768 -32768; 32768=out 32768; -007=-7 -7; -0=0 0; "
            "2147483647=out 2147483647; 2147483648=out out; -999999999999999999=out out; "
            "99999999999999999999=out out; -2147483648=out -2147483648; =nan nan; "
            "0x10=nan nan; 12a=nan nan; -=nan nan; 1e=nan nan; 1,5=nan nan; inf=nan nan";
        for (const QString &row : rows.split("; "))
            QTest::newRow(qPrintable(row)) << row.section('=', 1);
    }

    void numbers()
    {
        QFETCH(QString, result);
        const std::string text = QString(QTest::currentDataTag()).section('=', 0, 0).toStdString();
        auto shown = [](Number::Kind kind, qint64 value) {
            return kind == Number::Ok ? QString::number(value)
                                      : QString(kind == Number::OutOfRange ? "out" : "nan");
        };
        std::int16_t whole = 0;
        std::int32_t sum = 0;
        const Number::Kind wholeKind = toWhole16(text, &whole), sumKind = toSum32(text, &sum);
        QCOMPARE(shown(wholeKind, whole) + ' ' + shown(sumKind, sum), result);
    }

    void writerRefusals_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QString>("error"); // empty: written
        auto row = [](const char *name, const char *field, const QByteArray &value, bool protect,
                      const QString &error = {}) {
            QTest::newRow(name) << field << value << protect << error;
        };
        const QString cannot =
            "holds the character '%1' (U+%2), which a %3 class file cannot carry";
        row("empty class name is fine", "name", {}, true);
        row("empty skin", "skin2", {}, true, "skin_name2 is empty");
        row("space in model", "model", "a b", false, "model_name holds a space");
        row("space in skin", "skin1", "a b", true, "skin_name1 holds a space");
        row("CR in name", "name", "a\rb", false, "class_name holds a line break");
        row("128 plain is fine", "name", "\x80", false);
        row("129 plain", "name", "\x81", false,
            "class_name " + cannot.arg("\\x81", "0081", "plain"));
        row("233 scrambled", "skin2", "\xE9", true,
            "skin_name2 " + cannot.arg(QString::fromUtf8("\u00E9"), "00E9", "scrambled"));
        row("Mod ID line break", "modId", "1\n", true, "Mod ID holds a line break");
        // The header is never read back as data: any Latin-1 character may stand there.
        row("config name 200 scrambled is fine", "config", "\xC8", true);
        row("Mod ID 255 plain is fine", "modId", "\xFF", false);
        row("name too long", "name", QByteArray(32766, 'x'), true,
            "a line of the class would be longer than 32767 characters");
    }

    void writerRefusals()
    {
        QFETCH(QString, field);
        QFETCH(QByteArray, value);
        QFETCH(bool, protect);
        QFETCH(QString, error);
        ClassFileWriter writer([](std::string_view) { return true; }, protect);
        ClassRecord r{.name = "Scout", .model = "male", .skin1 = "grunt", .skin2 = "blue"};
        std::string modId = "1", config = "C";
        std::string *fields[] = {&r.name, &r.model, &r.skin1, &r.skin2, &modId, &config};
        *fields[QStringList{"name", "model", "skin1", "skin2", "modId", "config"}.indexOf(field)] =
            value.toStdString();
        const bool ok = writer.writeHeader(modId, config) && writer.writeClass(r);
        QCOMPARE(QString::fromStdString(writer.error()), error);
        QCOMPARE(ok, error.isEmpty());
    }

    void readerSequence_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("result"); // the class names read, or the error's start
        auto row = [](const char *name, const QByteArray &file, const QString &result) {
            QTest::newRow(name) << file << result;
        };
        const QByteArray head = "V3 1\r\nC\r\n";
        const QByteArray b = kBlock, b2 = QByteArray(kBlock).replace("[A]", "[B]");
        // One block with a text replaced, then a last line that is never examined.
        auto with = [&head](const char *from, const QByteArray &to) {
            return head + QByteArray(kBlock).replace(from, to) + "\r\n";
        };
        row("no empty line first", head + b, "A");
        row("several empty lines between", head + "\r\n" + b + "\r\n\r\n\r\n" + b2, "A, B");
        row("LF only", QByteArray(head + "\r\n" + b + "\r\n" + b2).replace("\r\n", "\n"), "A, B");
        row("no line end at the end", head + b + "\r\n" + b2.chopped(2), "A, B");
        row("last line never examined, CR LF", head + b + "garbage\r\n", "A");
        row("line before the last examined", head + b + "garbage\r\n\r\n", "error 9: Bad Class");
        row("class line as last line", head + "\r\n[A]\r\n", "");
        row("two lines", head, "");
        row("one line", QByteArray("V3 1\r\n"), "error 2: the file ends after line 1");
        row("empty file", QByteArray(), "error 1: the file is empty");
        row("line of spaces is not empty", head + "  \r\n" + b, "error 3: Bad Class Record:   ");
        row("bad record unscrambled", head + "\xD3\xE3\r\n" + b, "error 3: Bad Class Record: Sc");
        row("lone [", with("[A]", "["), "error 3: the class line holds only \"[\"");
        // A plain file's bytes above 128 read 128 lower; the first 5 lines are named.
        const QByteArray lowered = QByteArray(kBlock)
                                       .replace("[A]", "[Caf\xE9]")
                                       .replace(" s2 ", " s\xB2 ")
                                       .replace(" 10", " \xB1\xB0")
                                       .replace("1 2 3\r", "\xB1 2 3\r")
                                       .replace(" 3\r", " \xB3\r")
                                       .replace(" 6\r", " \xB6\r");
        row("plain, bytes above 128", head + lowered + "\r\n",
            "Cafi 3:e9 4:b2 5:b1 6:b1 7:b3 of 6");
        row("scrambled, bytes above 128", "\xD6\xB3\r\nC\r\n" + lowered + "\r\n", "Cafi");
        row("name keeps spaces and brackets", with("[A]", "[ [x] ]"), " [x] ");
        row("fractions read", with(" 5  3", " 2.5  3.5"), "A");
        row("last character not checked", with("[A]", "[xy"), "x");
        row("cut short", head + b.left(b.lastIndexOf("1 2 3 4 5 6")), "error 8: the file ends");
        row("empty field", with("m s1 s2 3", "m  s2 3"), "error 4: decoyskin (field 4) is empty");
        row("not a number", with("1 2 3 4 5 6 7", "1 2 x 4 5 6 7"), "error 5: w3 (field 3): \"x\"");
        row("out of range", with("\r\n1 2 3\r\n", "\r\n1 2 40000\r\n"),
            "error 6: g3 (field 3): \"40000\"");
        row("sum beyond 32 bits", with(" 5  3", " 5  4294967296"),
            "error 7: the item sum (field 5)");
        // Fields are cut at runs of spaces; a space at the start leaves field 1 empty.
        const QByteArray thirty = QByteArray("1 ").repeated(30);
        row("30 fields, trailing spaces", with("1 2 3 4 5 6\r\n", thirty + "  \r\n"), "A");
        row("31 fields, a leading space", with("1 2 3 4 5 6\r\n", ' ' + thirty.trimmed() + "\r\n"),
            "error 8: the line holds more than 30");
        row("leading space", with("m s1 s2 3", " m  s1 s2 3"),
            "error 4: decoyskin (field 4): \"s2\"");
        QByteArray many = head;
        for (int i = 0; i <= 32767; ++i)
            many += "[c]\nm a b 0\n0 0 0 0 0 0 0 0 0 0\n0 0 0\n0 0 0 0 0\n0 0 0 0 0 0\n";
        row("32768 classes", many + "\n", "error 196605: the file holds more than 32767");
        row("too long", with("[A]", '[' + QByteArray(32767, 'x') + ']'),
            "error 3: the line is longer");
    }

    void readerSequence()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, result);
        // An error by its line and what it names; class names whole.
        const QString read = readAll(file);
        QCOMPARE(result.startsWith("error ") ? read.left(result.size()) : read, result);
    }
};

QTEST_APPLESS_MAIN(tst_ClassFile)
#include "tst_classfile.moc"
