// SPDX-License-Identifier: GPL-3.0-or-later
// tarn-jet-reader FILE: writes every user table of a Jet (Access) database to
// stdout in the dump format that the store's Jet conversion reads.
//
// It runs as a child process because libmdb trusts the file it reads: a
// damaged file can make it crash or loop, and that must not take the program
// down with it. Anything it cannot read exactly ends it with a message on
// stderr and a non-zero status; it never leaves a value out silently.
//
// Format (bytes; every line ends with LF; STR is <byte count>:<bytes>):
//   TARNJET 1
//   T STR                    a table, by name
//   C TYPE STR               a column: type name, then name (stored order)
//   R                        a row: one value line per column follows
//     N | I INT | F REAL | D DECIMAL | S STR (UTF-8) | X STR (raw bytes)
//   E ROWS                   end of the table, with its row count
//   Z TABLES                 end of the dump, with the table count

#include <glib.h>

#include <mdbtools.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kOffsetMask = 0x1fff;
constexpr int kDeletedRow = 0x4000;
// A memo or OLE value longer than this is taken for damage, not data.
constexpr std::uint32_t kMaxLongValue = 256u << 20;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string &message)
{
    throw Failure{message};
}

const char *typeName(int type)
{
    switch (type) {
    case MDB_BOOL:
        return "bool";
    case MDB_BYTE:
        return "byte";
    case MDB_INT:
        return "int";
    case MDB_LONGINT:
        return "long";
    case MDB_MONEY:
        return "money";
    case MDB_FLOAT:
        return "float";
    case MDB_DOUBLE:
        return "double";
    case MDB_DATETIME:
        return "datetime";
    case MDB_BINARY:
        return "binary";
    case MDB_TEXT:
        return "text";
    case MDB_OLE:
        return "ole";
    case MDB_MEMO:
        return "memo";
    case MDB_REPID:
        return "repid";
    case MDB_NUMERIC:
        return "numeric";
    default:
        return nullptr;
    }
}

// Size of a fixed-length value of the type, 0 for variable-length types.
int fixedSize(int type)
{
    switch (type) {
    case MDB_BYTE:
        return 1;
    case MDB_INT:
        return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
        return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
        return 8;
    case MDB_REPID:
        return 16;
    case MDB_NUMERIC:
        return 17;
    default:
        return 0;
    }
}

std::uint64_t littleEndian(const unsigned char *p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

class Writer
{
public:
    void line(const std::string &text) { mOut += text + '\n'; }
    void str(char tag, const std::string &prefix, const std::string &bytes)
    {
        mOut += tag;
        mOut += ' ';
        mOut += prefix;
        mOut += std::to_string(bytes.size()) + ':';
        mOut += bytes;
        mOut += '\n';
    }
    // Everything is written at the end, so that a failure leaves no partial
    // dump that could be taken for a whole one.
    bool flush(int fd)
    {
        for (size_t done = 0; done < mOut.size();) {
            const ssize_t n = write(fd, mOut.data() + done, mOut.size() - done);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

private:
    std::string mOut;
};

class Reader
{
public:
    explicit Reader(MdbHandle *mdb) : mMdb(mdb) {}

    void dumpTable(MdbCatalogEntry *entry, Writer &out);

private:
    int pageSize() const { return int(mMdb->fmt->pg_size); }
    void checkRange(int start, int size, const char *what) const;
    std::string decodeText(const unsigned char *src, size_t size) const;
    std::string longValue(const unsigned char *field, int size) const;
    void value(Writer &out, const MdbColumn &col, const MdbField &field) const;

    MdbHandle *mMdb;
    std::string mWhere; // table and row, for messages
};

void Reader::checkRange(int start, int size, const char *what) const
{
    if (start < 0 || size < 0 || start + size > pageSize())
        fail(mWhere + ": " + what + " lies outside its page");
}

std::string Reader::decodeText(const unsigned char *src, size_t size) const
{
    if (size == 0)
        return {};
    // Compressed Unicode and code-page text grow to at most three UTF-8 bytes
    // per stored byte.
    std::vector<char> dest(size * 3 + 16);
    const int written = mdb_unicode2ascii(mMdb, reinterpret_cast<const char *>(src), size,
                                          dest.data(), dest.size());
    if (written < 0 || size_t(written) >= dest.size() - 1)
        fail(mWhere + ": a text value could not be decoded");
    return std::string(dest.data(), size_t(written));
}

// Memo and OLE values: inline, on one LVAL page, or on a chain of them.
std::string Reader::longValue(const unsigned char *field, int size) const
{
    if (size < MDB_MEMO_OVERHEAD)
        fail(mWhere + ": a memo or OLE value is cut short");
    const std::uint32_t head = std::uint32_t(littleEndian(field, 4));
    const std::uint32_t length = head & 0x3fffffffu;
    const std::uint32_t flags = head & 0xc0000000u;
    if (length > kMaxLongValue)
        fail(mWhere + ": a memo or OLE value claims an impossible length");
    if (flags == 0x80000000u) {
        if (length != std::uint32_t(size - MDB_MEMO_OVERHEAD))
            fail(mWhere + ": an inline memo or OLE value has the wrong length");
        return std::string(reinterpret_cast<const char *>(field) + MDB_MEMO_OVERHEAD, length);
    }
    if (flags != 0x40000000u && flags != 0)
        fail(mWhere + ": a memo or OLE value has unknown flags");

    std::string data;
    std::uint32_t pageRow = std::uint32_t(littleEndian(field + 4, 4));
    const bool chained = flags == 0;
    for (int hops = 0; data.size() < length; ++hops) {
        if (hops > 100000 || pageRow == 0)
            fail(mWhere + ": the pages of a memo or OLE value are broken");
        const unsigned long page = pageRow >> 8;
        const int row = int(pageRow & 0xff);
        if (mdb_read_alt_pg(mMdb, page) != mMdb->fmt->pg_size)
            fail(mWhere + ": a page of a memo or OLE value cannot be read");
        const unsigned char *buf = mMdb->alt_pg_buf;
        const int rco = mMdb->fmt->row_count_offset;
        const int rows = int(littleEndian(buf + rco, 2));
        if (row >= rows)
            fail(mWhere + ": a memo or OLE value points to a row that does not exist");
        const int start = int(littleEndian(buf + rco + 2 + row * 2, 2)) & kOffsetMask;
        const int end =
            row == 0 ? pageSize() : int(littleEndian(buf + rco + row * 2, 2)) & kOffsetMask;
        if (start >= end || end > pageSize())
            fail(mWhere + ": a memo or OLE value points to a damaged row");
        int from = start;
        if (chained) {
            if (end - start < 4)
                fail(mWhere + ": a memo or OLE page row is cut short");
            pageRow = std::uint32_t(littleEndian(buf + start, 4));
            from += 4;
        }
        data.append(reinterpret_cast<const char *>(buf) + from, size_t(end - from));
        if (!chained)
            break;
    }
    if (data.size() != length)
        fail(mWhere + ": a memo or OLE value does not have its stated length");
    return data;
}

// The shortest decimal that reads back as the same single-precision value.
std::string shortestFloat(float value)
{
    char text[64];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(value));
        if (std::strtof(text, nullptr) == value)
            break;
    }
    return text;
}

// Currency: whole units of 1/10000.
std::string currencyText(std::int64_t units)
{
    const std::uint64_t magnitude =
        units < 0 ? std::uint64_t(0) - std::uint64_t(units) : std::uint64_t(units);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 5)
        digits.insert(0, 5 - digits.size(), '0');
    digits.insert(digits.size() - 4, 1, '.');
    return (units < 0 ? "-" : "") + digits;
}

void Reader::value(Writer &out, const MdbColumn &col, const MdbField &field) const
{
    if (col.col_type == MDB_BOOL) {
        // A Yes/No value lives in the null mask: set means true.
        out.line(field.is_null ? "I 0" : "I 1");
        return;
    }
    if (field.is_null) {
        out.line("N");
        return;
    }
    checkRange(field.start, field.siz, "a value");
    const unsigned char *p = mMdb->pg_buf + field.start;
    const int size = fixedSize(col.col_type);
    if (size && field.siz != size)
        fail(mWhere + ": the column " + col.name + " has a value of the wrong size");
    char text[64];
    switch (col.col_type) {
    case MDB_BYTE:
        out.line("I " + std::to_string(unsigned(p[0])));
        return;
    case MDB_INT:
        out.line("I " + std::to_string(std::int16_t(littleEndian(p, 2))));
        return;
    case MDB_LONGINT:
        out.line("I " + std::to_string(std::int32_t(littleEndian(p, 4))));
        return;
    case MDB_MONEY:
        out.line("D " + currencyText(std::int64_t(littleEndian(p, 8))));
        return;
    case MDB_FLOAT: {
        const std::uint32_t bits = std::uint32_t(littleEndian(p, 4));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f))
            fail(mWhere + ": the column " + col.name + " holds a value that is not a number");
        out.line("F " + shortestFloat(f));
        return;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        const std::uint64_t bits = littleEndian(p, 8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d))
            fail(mWhere + ": the column " + col.name + " holds a value that is not a number");
        std::snprintf(text, sizeof text, "%.17g", d);
        out.line(std::string("F ") + text);
        return;
    }
    case MDB_NUMERIC: {
        if (col.col_scale < 0 || col.col_scale > 28 || col.col_prec < 1 || col.col_prec > 28)
            fail(mWhere + ": the column " + col.name + " has a damaged scale or precision");
        char *decimal = mdb_numeric_to_string(mMdb, field.start, col.col_scale, col.col_prec);
        out.line(std::string("D ") + decimal);
        g_free(decimal);
        return;
    }
    case MDB_REPID: {
        char *uuid = mdb_uuid_to_string(mMdb->pg_buf, field.start);
        out.str('S', "", uuid);
        g_free(uuid);
        return;
    }
    case MDB_TEXT:
        out.str('S', "", decodeText(p, size_t(field.siz)));
        return;
    case MDB_MEMO: {
        const std::string raw = longValue(p, field.siz);
        out.str('S', "",
                decodeText(reinterpret_cast<const unsigned char *>(raw.data()), raw.size()));
        return;
    }
    case MDB_OLE:
        out.str('X', "", longValue(p, field.siz));
        return;
    case MDB_BINARY:
        out.str('X', "", std::string(reinterpret_cast<const char *>(p), size_t(field.siz)));
        return;
    }
    fail(mWhere + ": the column " + col.name + " has a type that cannot be converted");
}

void Reader::dumpTable(MdbCatalogEntry *entry, Writer &out)
{
    mWhere = std::string("table ") + entry->object_name;
    MdbTableDef *table = mdb_read_table(entry);
    if (!table)
        fail(mWhere + ": its definition cannot be read");
    struct Free {
        MdbTableDef *t;
        ~Free() { mdb_free_tabledef(t); }
    } freeTable{table};
    if (!mdb_read_columns(table) || table->num_cols != table->columns->len ||
        table->num_cols > MDB_MAX_COLS)
        fail(mWhere + ": its columns cannot be read");

    out.str('T', "", entry->object_name);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto *col = static_cast<const MdbColumn *>(g_ptr_array_index(table->columns, i));
        const char *type = typeName(col->col_type);
        if (!type)
            fail(mWhere + ": the column " + col->name + " has type " +
                 std::to_string(col->col_type) + ", which cannot be converted");
        out.str('C', std::string(type) + ' ', col->name);
    }

    std::vector<MdbField> fields(table->num_cols);
    unsigned long rows = 0;
    mdb_rewind_table(table);
    while (mdb_read_next_dpg(table)) {
        const int onPage = int(littleEndian(mMdb->pg_buf + mMdb->fmt->row_count_offset, 2));
        for (int r = 0; r < onPage; ++r) {
            mWhere =
                std::string("table ") + entry->object_name + ", row " + std::to_string(rows + 1);
            int start = 0;
            size_t size = 0;
            if (mdb_find_row(mMdb, r, &start, &size) == -1)
                fail(mWhere + ": the row cannot be found on its page");
            if (start & kDeletedRow)
                continue;
            start &= kOffsetMask;
            if (size == 0)
                fail(mWhere + ": the row is empty");
            checkRange(start, int(size), "the row");
            if (mdb_crack_row(table, start, size, fields.data()) < 0)
                fail(mWhere + ": the row is damaged");
            out.line("R");
            for (unsigned i = 0; i < table->num_cols; ++i) {
                const auto *col =
                    static_cast<const MdbColumn *>(g_ptr_array_index(table->columns, i));
                value(out, *col, fields[i]);
            }
            ++rows;
        }
    }
    mWhere = std::string("table ") + entry->object_name;
    // Pages that could not be read end the scan early; the table's own row
    // count tells.
    if (rows != table->num_rows)
        fail(mWhere + ": " + std::to_string(rows) + " of its " + std::to_string(table->num_rows) +
             " rows could be read");
    out.line("E " + std::to_string(rows));
}

// libmdb reads the catalog leaving out rows it cannot read: compare it with
// the row count of the catalog table itself.
void checkCatalog(MdbHandle *mdb)
{
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (std::strcmp(entry->object_name, "MSysObjects") != 0)
            continue;
        MdbTableDef *table = mdb_read_table(entry);
        const bool complete = table && table->num_rows == mdb->num_catalog;
        if (table)
            mdb_free_tabledef(table);
        if (complete)
            return;
        break;
    }
    fail("the list of tables is incomplete");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarn-jet-reader FILE\n");
        return 2;
    }
    // libmdb prints its warnings where it likes: only the dump goes to the
    // real stdout.
    const int dumpFd = dup(STDOUT_FILENO);
    if (dumpFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "cannot set up the output\n");
        return 1;
    }
    // Text comes out as UTF-8 whatever the environment says.
    setenv("MDBICONV", "UTF-8", 1);
    MdbHandle *mdb = mdb_open(argv[1], MDB_NOFLAGS);
    if (!mdb) {
        std::fprintf(stderr, "not a Jet database that can be read\n");
        return 1;
    }
    Writer out;
    int status = 0;
    try {
        if (!mdb_read_catalog(mdb, MDB_ANY))
            fail("the list of tables cannot be read");
        checkCatalog(mdb);
        out.line("TARNJET 1");
        Reader reader(mdb);
        unsigned tables = 0;
        for (unsigned i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry))
                continue;
            reader.dumpTable(entry, out);
            ++tables;
        }
        out.line("Z " + std::to_string(tables));
        if (!out.flush(dumpFd))
            fail("the dump could not be written");
    } catch (const Failure &f) {
        std::fprintf(stderr, "%s\n", f.message.c_str());
        status = 1;
    }
    mdb_close(mdb);
    return status;
}
