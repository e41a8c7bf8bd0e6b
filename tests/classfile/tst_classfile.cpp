#include "classfilereader.h"
#include "classfilewriter.h"
#include "linecodec.h"

#include <QTest>

#include <sstream>

using namespace tarn::classfile;

namespace
{

std::string bytes(const QByteArray &b)
{
    return std::string(b.constData(), size_t(b.size()));
}

QByteArray qbytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// The tokens up to the last non-empty one, or "error" for too many.
QStringList tokenList(const std::string &line, bool protect)
{
    const std::optional<Tokens> tokens = SplitTokens(line, protect);
    if (!tokens)
        return {QStringLiteral("error")};
    QStringList list;
    for (const std::string &t : *tokens)
        list << QString::fromLatin1(qbytes(t));
    while (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

// The class names read, or "error LINE: cause".
QStringList readAll(const QByteArray &file)
{
    std::istringstream in(bytes(file));
    ClassFileReader reader(in);
    ClassRecord record;
    QStringList names;
    for (;;) {
        switch (reader.next(record)) {
        case ClassFileReader::Step::Class:
            names << QString::fromLatin1(qbytes(record.name));
            break;
        case ClassFileReader::Step::End:
            return names;
        case ClassFileReader::Step::Error:
            return {QStringLiteral("error %1: %2")
                        .arg(reader.error().line)
                        .arg(QString::fromLatin1(qbytes(reader.error().cause)))};
        }
    }
}

const QByteArray kBlock =
    "[A]\r\nm s1 s2 3\r\n1 2 3 4 5 6 7 8 9 10\r\n1 2 3\r\n50 340 90  5  3\r\n1 2 3 4 5 6\r\n";

ClassFileWriter writerInto(std::string &out, bool protect)
{
    return ClassFileWriter(
        [&out](std::string_view b) {
            out += b;
            return true;
        },
        protect);
}

ClassRecord scout()
{
    ClassRecord r;
    r.name = "Scout";
    r.model = "male";
    r.skin1 = "grunt";
    r.skin2 = "blue";
    r.decoySkin = 3;
    r.weapons = {7, 2, 5};
    r.grenades = {1, 0, 0};
    r.armor = 50;
    r.speed = 340;
    r.health = 90;
    r.specialSum = 5;
    r.itemSum = 3;
    r.ammo = {100, 25, 10, 2, 50, 5};
    return r;
}

} // namespace

class tst_ClassFile : public QObject
{
    Q_OBJECT

private slots:
    void codec_data();
    void codec();
    void splitTokens_data();
    void splitTokens();
    void numbers_data();
    void numbers();
    void writerLines_data();
    void writerLines();
    void writerRefusals_data();
    void writerRefusals();
    void readerSequence_data();
    void readerSequence();
    void readerValues();
    void readsWhatItWrites_data();
    void readsWhatItWrites();
};

void tst_ClassFile::codec_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("protect");
    QTest::addColumn<QByteArray>("protectedLine");
    QTest::addColumn<QByteArray>("unprotectedLine");
    QTest::newRow("abc") << QByteArray("abc") << true << QByteArray("\xE1\xE2\xE3")
                         << QByteArray("abc");
    QTest::newRow("space") << QByteArray(" ") << true << QByteArray("\xA0") << QByteArray(" ");
    QTest::newRow("tab, 30 and 31") << QByteArray("\x09\x1E\x1F") << true
                                    << QByteArray("\x09\x1E\x9F") << QByteArray("\x09\x1E\x1F");
    QTest::newRow("tilde, the highest code")
        << QByteArray("~") << true << QByteArray("\xFE") << QByteArray("~");
    QTest::newRow("off") << QByteArray("a \x81\xFF") << false << QByteArray("a \x81\xFF")
                         << QByteArray("a \x81\xFF");
    QTest::newRow("empty") << QByteArray() << true << QByteArray() << QByteArray();
}

void tst_ClassFile::codec()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, protect);
    QFETCH(QByteArray, protectedLine);
    QFETCH(QByteArray, unprotectedLine);
    const std::string scrambled = ProtectLine(bytes(line), protect);
    QCOMPARE(qbytes(scrambled), protectedLine);
    QCOMPARE(qbytes(UnprotectLine(scrambled, protect)), unprotectedLine);
    if (protect) {
        QCOMPARE(qbytes(UnprotectLine("\x80\x81\xFF\x10", true)), QByteArray("\x80\x01\x7F\x10"));
    }
}

void tst_ClassFile::splitTokens_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("protect");
    QTest::addColumn<QStringList>("tokens");
    QTest::newRow("x y z") << QByteArray("x y z") << true << QStringList{"x", "y", "z"};
    QTest::newRow("leading spaces") << QByteArray("  x  y ") << true << QStringList{"", "x", "y"};
    QTest::newRow("empty") << QByteArray() << true << QStringList();
    QTest::newRow("tab is no separator")
        << QByteArray("a\tb c") << true << QStringList{"a\tb", "c"};
    QTest::newRow("scrambled") << QByteArray("\xF8\xA0\xF9") << true << QStringList{"x", "y"};
    QTest::newRow("scrambled, not unprotected")
        << QByteArray("\xF8\xA0\xF9") << false << QStringList{QString::fromLatin1("\xF8\xA0\xF9")};
    QByteArray thirty, thirtyOne;
    for (int i = 0; i < 30; ++i)
        thirty += QByteArray::number(i) + ' ';
    thirtyOne = thirty + "x";
    QStringList numbers;
    for (int i = 0; i < 30; ++i)
        numbers << QString::number(i);
    QTest::newRow("30 and trailing spaces") << thirty + "   " << true << numbers;
    QTest::newRow("31 tokens") << thirtyOne << true << QStringList{"error"};
    // A leading space leaves token 1 empty: 30 numbers then need 31 positions.
    QTest::newRow("31 tokens after leading space")
        << " " + thirty.trimmed() << true << QStringList{"error"};
}

void tst_ClassFile::splitTokens()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, protect);
    QFETCH(QStringList, tokens);
    QCOMPARE(tokenList(bytes(line), protect), tokens);
}

void tst_ClassFile::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind16");
    QTest::addColumn<int>("value16");
    QTest::addColumn<int>("kind32");
    QTest::addColumn<qint64>("value32");
    const int ok = Number::Ok, nan = Number::NotANumber, out = Number::OutOfRange;
    QTest::newRow("plain") << "42" << ok << 42 << ok << qint64(42);
    QTest::newRow("signs") << "-7" << ok << -7 << ok << qint64(-7);
    QTest::newRow("plus") << "+7" << ok << 7 << ok << qint64(7);
    QTest::newRow("half to even down") << "2.5" << ok << 2 << ok << qint64(2);
    QTest::newRow("half to even up") << "3.5" << ok << 4 << ok << qint64(3);
    QTest::newRow("negative half") << "-2.5" << ok << -2 << ok << qint64(-3);
    QTest::newRow("fraction") << "2.6" << ok << 3 << ok << qint64(2);
    QTest::newRow("exponent") << "1.5e2" << ok << 150 << ok << qint64(150);
    QTest::newRow("16-bit edge") << "32767.4" << ok << 32767 << ok << qint64(32767);
    QTest::newRow("rounds out of 16 bits") << "32767.5" << out << 0 << ok << qint64(32767);
    QTest::newRow("16-bit low") << "-32768" << ok << -32768 << ok << qint64(-32768);
    QTest::newRow("32-bit high") << "2147483647" << out << 0 << ok << qint64(2147483647);
    QTest::newRow("beyond 32 bits") << "2147483648" << out << 0 << out << qint64(0);
    QTest::newRow("32-bit low") << "-2147483648" << out << 0 << ok << qint64(-2147483648LL);
    QTest::newRow("huge") << "1e400" << out << 0 << out << qint64(0);
    QTest::newRow("tiny negative") << "-1e-400" << ok << 0 << ok << qint64(-1);
    QTest::newRow("empty") << "" << nan << 0 << nan << qint64(0);
    QTest::newRow("word") << "abc" << nan << 0 << nan << qint64(0);
    QTest::newRow("hex") << "0x10" << nan << 0 << nan << qint64(0);
    QTest::newRow("trailing text") << "12a" << nan << 0 << nan << qint64(0);
    QTest::newRow("sign alone") << "-" << nan << 0 << nan << qint64(0);
    QTest::newRow("bad exponent") << "1e" << nan << 0 << nan << qint64(0);
    QTest::newRow("comma") << "1,5" << nan << 0 << nan << qint64(0);
    QTest::newRow("inf") << "inf" << nan << 0 << nan << qint64(0);
}

void tst_ClassFile::numbers()
{
    QFETCH(QString, text);
    QFETCH(int, kind16);
    QFETCH(int, value16);
    QFETCH(int, kind32);
    QFETCH(qint64, value32);
    const std::string t = text.toStdString();
    std::int16_t v16 = 0;
    std::int32_t v32 = 0;
    QCOMPARE(int(toWhole16(t, &v16)), kind16);
    QCOMPARE(int(v16), value16);
    QCOMPARE(int(toSum32(t, &v32)), kind32);
    QCOMPARE(qint64(v32), value32);
}

void tst_ClassFile::writerLines_data()
{
    QTest::addColumn<QString>("modId");
    QTest::addColumn<int>("specialSum");
    QTest::addColumn<int>("itemSum");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray block = "\r\n[Scout]\r\nmale grunt blue 3\r\n1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n";
    const QByteArray ammo = "100 25 10 2 50 5\r\n";
    QTest::newRow("sums") << "17" << 5 << 3
                          << "V3 17\r\nTest Config\r\n" + block + "50 340 90  5  3\r\n" + ammo;
    QTest::newRow("zero sums, empty Mod ID")
        << "" << 0 << 0 << "V3 \r\nTest Config\r\n" + block + "50 340 90  0  0\r\n" + ammo;
    QTest::newRow("negative sum") << "x" << -2147483647 - 1 << 1
                                  << "V3 x\r\nTest Config\r\n" + block +
                                         "50 340 90 -2147483648  1\r\n" + ammo;
}

void tst_ClassFile::writerLines()
{
    QFETCH(QString, modId);
    QFETCH(int, specialSum);
    QFETCH(int, itemSum);
    QFETCH(QByteArray, expected);
    for (bool protect : {false, true}) {
        std::string out;
        ClassFileWriter writer = writerInto(out, protect);
        ClassRecord r = scout();
        r.specialSum = specialSum;
        r.itemSum = itemSum;
        QVERIFY(writer.writeHeader(modId.toStdString(), "Test Config"));
        QVERIFY(writer.writeClass(r));
        QByteArray want = expected;
        if (protect)
            for (char &c : want)
                if (uchar(c) > 30)
                    c = char(uchar(c) + 128);
        QCOMPARE(qbytes(out), want);
    }
}

void tst_ClassFile::writerRefusals_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("protect");
    QTest::addColumn<QString>("error"); // empty: written
    QTest::newRow("empty model is fine")
        << QByteArray("model") << QByteArray() << true << QString();
    QTest::newRow("empty class name is fine")
        << QByteArray("name") << QByteArray() << true << QString();
    QTest::newRow("space in class name is fine")
        << QByteArray("name") << QByteArray("A B") << true << QString();
    QTest::newRow("empty skin") << QByteArray("skin2") << QByteArray() << true
                                << "class \"Scout\": skin_name2 is empty";
    QTest::newRow("space in model") << QByteArray("model") << QByteArray("a b") << false
                                    << "class \"Scout\": model_name holds a space";
    QTest::newRow("space in skin") << QByteArray("skin1") << QByteArray("a b") << true
                                   << "class \"Scout\": skin_name1 holds a space";
    QTest::newRow("CR in name") << QByteArray("name") << QByteArray("a\rb") << false
                                << "class \"a\rb\": class_name holds a line break";
    QTest::newRow("LF in skin") << QByteArray("skin1") << QByteArray("a\nb") << true
                                << "class \"Scout\": skin_name1 holds a line break";
    QTest::newRow("128 plain is fine")
        << QByteArray("name") << QByteArray("\x80") << false << QString();
    QTest::newRow("129 plain")
        << QByteArray("name") << QByteArray("\x81") << false
        << QString::fromLatin1("class \"\x81\": class_name holds the character \"\x81\" (code "
                               "129), which a plain class file cannot carry");
    QTest::newRow("128 scrambled")
        << QByteArray("skin2") << QByteArray("\x80") << true
        << QString::fromLatin1("class \"Scout\": skin_name2 holds the character \"\x80\" (code "
                               "128), which a scrambled class file cannot carry");
    QTest::newRow("Mod ID line break")
        << QByteArray("modId") << QByteArray("1\r\n") << true << "the Mod ID holds a line break";
    QTest::newRow("config name 200 scrambled")
        << QByteArray("config") << QByteArray("\xC8") << true
        << QString::fromLatin1("the configuration name holds the character \"\xC8\" (code 200), "
                               "which a scrambled class file cannot carry");
    QTest::newRow("name too long")
        << QByteArray("name") << QByteArray(32766, 'x') << true
        << "class \"" + QString(32766, 'x') +
               "\": a line of the class would be longer than 32767 characters";
}

void tst_ClassFile::writerRefusals()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, value);
    QFETCH(bool, protect);
    QFETCH(QString, error);
    std::string out;
    ClassFileWriter writer = writerInto(out, protect);
    ClassRecord r = scout();
    std::string modId = "1", config = "C";
    std::string *target = field == "model"   ? &r.model
                          : field == "name"  ? &r.name
                          : field == "skin1" ? &r.skin1
                          : field == "skin2" ? &r.skin2
                          : field == "modId" ? &modId
                                             : &config;
    *target = bytes(value);
    const bool ok = writer.writeHeader(modId, config) && writer.writeClass(r);
    QCOMPARE(QString::fromLatin1(qbytes(writer.error())), error);
    QCOMPARE(ok, error.isEmpty());
    QVERIFY(!writer.sinkFailed());
    if (ok) { // and it reads back as written
        std::istringstream in(out);
        ClassFileReader reader(in);
        ClassRecord back;
        QCOMPARE(reader.next(back), ClassFileReader::Step::Class);
        QCOMPARE(qbytes(back.name), qbytes(r.name));
        QCOMPARE(qbytes(back.model), qbytes(r.model));
    } else if (field != "modId" && field != "config") {
        QCOMPARE(qbytes(out).count("\r\n"), 2); // the header only: the class was not begun
    } else {
        QVERIFY(out.empty());
    }
}

void tst_ClassFile::readerSequence_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("result");
    const QByteArray head = "V3 1\r\nC\r\n";
    QByteArray b = kBlock;
    QByteArray b2 = QByteArray(kBlock).replace("[A]", "[B]");
    QTest::newRow("as written") << head + "\r\n" + b << QStringList{"A"};
    QTest::newRow("no empty line first") << head + b << QStringList{"A"};
    QTest::newRow("several empty lines between")
        << head + "\r\n" + b + "\r\n\r\n\r\n" + b2 << QStringList{"A", "B"};
    QTest::newRow("LF only") << QByteArray(head + "\r\n" + b + "\r\n" + b2).replace("\r\n", "\n")
                             << QStringList{"A", "B"};
    QTest::newRow("no line end at the end")
        << head + b + "\r\n" + b2.chopped(2) << QStringList{"A", "B"};
    QTest::newRow("last line never examined") << head + b + "garbage" << QStringList{"A"};
    QTest::newRow("last line never examined, CR LF") << head + b + "garbage\r\n"
                                                     << QStringList{"A"};
    QTest::newRow("line before the last is examined")
        << head + b + "garbage\r\n\r\n"
        << QStringList{"error 9: Bad Class Record: garbage"};
    QTest::newRow("class line as last line") << head + "\r\n[A]\r\n" << QStringList();
    QTest::newRow("three lines") << head + "[Lonely]\r\n" << QStringList();
    QTest::newRow("two lines") << head << QStringList();
    QTest::newRow("two lines without end") << QByteArray("V3 1\r\nC") << QStringList();
    QTest::newRow("one line")
        << QByteArray("V3 1\r\n")
        << QStringList{"error 2: the file ends after line 1; a class file has at least two lines"};
    QTest::newRow("empty file") << QByteArray() << QStringList{"error 1: the file is empty"};
    QTest::newRow("line of spaces is not empty")
        << head + "  \r\n" + b << QStringList{"error 3: Bad Class Record:   "};
    QTest::newRow("third class line without bracket")
        << head + b + b2 + QByteArray(kBlock).replace("[A]", "Scout]")
        << QStringList{"error 15: Bad Class Record: Scout]"};
    QTest::newRow("bad record unscrambled")
        << head + "\xD3\xE3\r\n" + b << QStringList{"error 3: Bad Class Record: Sc"};
    QTest::newRow("lone [") << head + QByteArray(kBlock).replace("[A]", "[")
                            << QStringList{"error 3: the class line holds only \"[\""};
    QTest::newRow("name keeps inner brackets")
        << head + QByteArray(kBlock).replace("[A]", "[[x]]") << QStringList{"[x]"};
    QTest::newRow("last character not checked")
        << head + QByteArray(kBlock).replace("[A]", "[xy") << QStringList{"x"};
    QTest::newRow("cut short")
        << head + b.left(b.indexOf("1 2 3\r\n"))
        << QStringList{"error 6: the file ends inside the class block that begins on line 3"};
    QTest::newRow("cut short by one line")
        << head + b.chopped(b.size() - b.lastIndexOf("1 2 3 4 5 6"))
        << QStringList{"error 8: the file ends inside the class block that begins on line 3"};
    QTest::newRow("empty field") << head + QByteArray(kBlock).replace("m s1 s2 3", "m  s2 3") +
                                        "\r\n"
                                 << QStringList{"error 4: decoyskin (field 4) is empty"};
    QTest::newRow("not a number") << head +
                                         QByteArray(kBlock).replace("1 2 3 4 5 6 7",
                                                                    "1 2 x 4 5 6 7") +
                                         "\r\n"
                                  << QStringList{"error 5: w3 (field 3): \"x\" is not a number"};
    QTest::newRow("out of range")
        << head + QByteArray(kBlock).replace("\r\n1 2 3\r\n", "\r\n1 2 40000\r\n") + "\r\n"
        << QStringList{"error 6: g3 (field 3): \"40000\" lies outside the range -32768 to 32767"};
    QTest::newRow("sum beyond 32 bits")
        << head + QByteArray(kBlock).replace(" 5  3", " 5  4294967296") + "\r\n"
        << QStringList{
               "error 7: the item sum (field 5): \"4294967296\" lies outside the 32-bit range"};
    QTest::newRow("31 fields") << head +
                                      QByteArray(kBlock).replace("1 2 3 4 5 6\r\n",
                                                                 QByteArray("1 ").repeated(31) +
                                                                     "\r\n") +
                                      "\r\n"
                               << QStringList{"error 8: the line holds more than 30 fields"};
    QTest::newRow("too long")
        << head + QByteArray(kBlock).replace("[A]", "[" + QByteArray(32767, 'x') + "]") + "\r\n"
        << QStringList{"error 3: the line is longer than 32767 characters"};
}

void tst_ClassFile::readerSequence()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, result);
    QCOMPARE(readAll(file), result);
}

void tst_ClassFile::readerValues()
{
    // A scrambled block with fractions and spaces in odd places.
    QByteArray plain = "V3\r\nC\r\n[ Scout ]\r\nmale grunt blue 2.5\r\n1 2 5 0 0 0 0 0 0 -1\r\n"
                       "1 0 3.5\r\n50 340 90 -1 511.9\r\n100 25 10 2 50 5\r\n";
    QByteArray scrambled;
    for (const QByteArray &line : plain.split('\n')) {
        if (!line.isEmpty())
            scrambled += qbytes(ProtectLine(bytes(line.chopped(1)), true)) + "\r\n";
    }
    for (const QByteArray &file : {plain, scrambled}) {
        std::istringstream in(bytes(file + "x"));
        ClassFileReader reader(in);
        ClassRecord r;
        QCOMPARE(reader.next(r), ClassFileReader::Step::Class);
        QCOMPARE(qbytes(r.name), QByteArray(" Scout "));
        QCOMPARE(qbytes(r.skin2), QByteArray("blue"));
        QCOMPARE(r.decoySkin, 2);
        QCOMPARE(r.weapons[9], -1);
        QCOMPARE(r.grenades[2], 4);
        QCOMPARE(r.health, 90);
        for (int k = 1; k <= kSpecialFlags; ++k)
            QVERIFY(r.special(k)); // -1 has every bit set
        for (int k = 1; k <= kItemFlags; ++k)
            QVERIFY(r.item(k)); // 511
        QCOMPARE(r.ammo[5], 5);
        QCOMPARE(reader.next(r), ClassFileReader::Step::End);
        QCOMPARE(reader.classCount(), 1);
    }
}

void tst_ClassFile::readsWhatItWrites_data()
{
    QTest::addColumn<bool>("protect");
    QTest::newRow("plain") << false;
    QTest::newRow("scrambled") << true;
}

void tst_ClassFile::readsWhatItWrites()
{
    QFETCH(bool, protect);
    std::string out;
    ClassFileWriter writer = writerInto(out, protect);
    QVERIFY(writer.writeHeader("", "Every code"));
    // Every code a variant can carry, in a class name.
    ClassRecord r = scout();
    for (int c = 0; c <= (protect ? 127 : 128); ++c)
        if (c != '\r' && c != '\n')
            r.name += char(c);
    r.weapons[0] = 9; // written as 1
    QVERIFY(writer.writeClass(r));
    std::istringstream in(out);
    ClassFileReader reader(in);
    ClassRecord back;
    QCOMPARE(reader.next(back), ClassFileReader::Step::Class);
    QCOMPARE(qbytes(back.name), qbytes(r.name));
    QCOMPARE(back.weapons[0], 1);
    QCOMPARE(back.specialSum, 5);
    QCOMPARE(back.ammo, r.ammo);
    QCOMPARE(reader.next(back), ClassFileReader::Step::End);
}

QTEST_APPLESS_MAIN(tst_ClassFile)
#include "tst_classfile.moc"
