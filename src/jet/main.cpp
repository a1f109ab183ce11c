// bukurea-jet [--table NAME] FILE
//
// Reads one table (default `tabel`) of an Access (Jet 3 / Jet 4) file and
// writes its columns and then its rows to standard output in the stream of
// store/accessprotocol.h. The only code of the program that uses the Jet
// library (libmdb): it runs as a child process, so that a file that makes
// the library hang or crash cannot take the window down.
//
// libmdb is used for the file's catalog, the table definition, the data
// page map and for cutting a row into its fields. Every value is decoded
// here from its raw bytes, because the library's own text path loses what
// a faithful copy needs: it cuts texts at its bind size, reads NULL and ""
// alike, turns characters outside the BMP into "??", decodes Jet 3 text
// with the code page the header names, and skips rows that moved to
// another page when they grew.
//
// Warnings go to standard error; the parent keeps them out of the user's
// sight.
#include <glib.h> // before mdbtools.h, which needs its types
#include <mdbtools.h>

#include "jet/jetdecode.h"
#include "store/accessprotocol.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace store::access;

// A fatal condition: reported in a failure record and as the exit status.
struct Fatal {
    Failure code;
    std::string detail;
};

[[noreturn]] void fail(Failure code, const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    throw Fatal{code, buf};
}

// The stream, buffered, on a descriptor of its own: anything the library
// prints on standard output is sent to standard error instead.
class Out {
public:
    explicit Out(int fd) : m_fd(fd) { m_buf.reserve(1 << 20); }
    void u8(unsigned v) { m_buf += char(v & 0xFF); }
    void u16(unsigned v)
    {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            u8(v >> (8 * i));
    }
    void u64(uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            u8(unsigned(v >> (8 * i)));
    }
    void bytes(const void *p, size_t n) { m_buf.append(static_cast<const char *>(p), n); }
    void value(Kind k, const std::string &s)
    {
        if (s.size() > MaxValueBytes)
            fail(Failure::TooLarge, "a value of %zu bytes", s.size());
        u8(unsigned(k));
        u32(uint32_t(s.size()));
        bytes(s.data(), s.size());
    }
    // Marks the end of a complete record; a failure drops what follows.
    void commit() { m_committed = m_buf.size(); }
    void dropUncommitted() { m_buf.resize(m_committed); }
    size_t pending() const { return m_buf.size(); }
    void flushIfFull()
    {
        if (m_buf.size() >= (1u << 19))
            flush();
    }
    // Writes the complete records.
    void flush()
    {
        size_t done = 0;
        while (done < m_committed) {
            const ssize_t w = ::write(m_fd, m_buf.data() + done, m_committed - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                std::_Exit(int(Failure::Internal)); // the reader of the stream is gone
            done += size_t(w);
        }
        m_buf.erase(0, m_committed);
        m_committed = 0;
    }

private:
    int m_fd;
    std::string m_buf;
    size_t m_committed = 0;
};

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Checks the header before the library sees the file: the library opens a
// file of zero bytes or of any content without complaint. Returns the
// number of pages.
unsigned long checkHeader(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        fail(Failure::Unreadable, "cannot open: %s", std::strerror(errno));
    unsigned char head[0x15] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    struct stat st {};
    const int statRc = fstat(fileno(f), &st);
    std::fclose(f);
    if (got < sizeof head
        || (std::memcmp(head + 4, "Standard Jet DB", 15) != 0 && std::memcmp(head + 4, "Standard ACE DB", 15) != 0))
        fail(Failure::NotAccess, "no Access header");
    const int pageSize = head[0x14] == 0 ? 2048 : 4096;
    if (statRc != 0 || !S_ISREG(st.st_mode))
        fail(Failure::Unreadable, "not a regular file");
    // An Access file is made of whole pages, at least the header page, the
    // free-space page and the catalog's definition.
    if (st.st_size < 3 * pageSize || st.st_size % pageSize != 0)
        fail(Failure::Damaged, "%lld bytes is not a whole number of %d-byte pages: the file was cut off",
             (long long)st.st_size, pageSize);
    return (unsigned long)(st.st_size / pageSize);
}

class TableReader {
public:
    TableReader(MdbHandle *mdb, MdbTableDef *table, unsigned long pages, Out &out)
        : m_mdb(mdb), m_table(table), m_pages(pages), m_out(out)
    {
        m_jet3 = mdb->f->jet_version == MDB_VER_JET3;
        for (unsigned i = 0; i < table->num_cols; ++i)
            m_columns.push_back(static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i)));
        m_fields.resize(m_columns.size() + 1);
    }

    void writeHeader()
    {
        if (m_columns.empty() || m_columns.size() > MaxColumns)
            fail(Failure::Damaged, "the table has %zu columns", m_columns.size());
        m_out.u8(TableTag);
        m_out.u16(unsigned(m_columns.size()));
        for (MdbColumn *c : m_columns) {
            const size_t n = std::strlen(c->name);
            if (n == 0 || n > MaxNameBytes)
                fail(Failure::Damaged, "a column name of %zu bytes", n);
            m_out.u16(unsigned(n));
            m_out.bytes(c->name, n);
            m_out.u8(unsigned(c->col_type));
            m_out.u8(unsigned(c->col_type == MDB_NUMERIC ? c->col_scale : 0));
        }
        m_out.u64(m_table->num_rows);
        m_out.commit();
    }

    // Walks the table's data pages without reading rows: a map that names
    // pages beyond the end of the file shows a file that was cut off.
    void checkPages()
    {
        checkMap();
        mdb_rewind_table(m_table);
        while (nextDataPage()) {
        }
    }

    // Every live row in the table's own order: data pages in the order of
    // the table's page map, rows in the order of each page's row table.
    void writeRows()
    {
        MdbFormatConstants *fmt = m_mdb->fmt;
        const int rco = fmt->row_count_offset;
        checkMap();
        mdb_rewind_table(m_table);
        while (nextDataPage()) {
            const int rows = mdb_get_int16(m_mdb->pg_buf, rco);
            if (rows < 0 || rco + 2 + 2 * rows > fmt->pg_size)
                fail(Failure::Damaged, "page %u holds %d rows", m_table->cur_phys_pg, rows);
            for (int r = 0; r < rows; ++r) {
                const int offset = mdb_get_int16(m_mdb->pg_buf, rco + 2 + 2 * r);
                // 0x8000: deleted, or a row that moved to another page when it
                // grew, which is read where its pointer stands.
                if (offset & 0x8000)
                    continue;
                int start = 0;
                size_t size = 0;
                if (mdb_find_row(m_mdb, r, &start, &size) != 0)
                    fail(Failure::Damaged, "row %d of page %u lies outside the page", r, m_table->cur_phys_pg);
                if (size == 0)
                    continue; // an empty slot
                start &= 0x1FFF;
                if (offset & 0x4000)
                    writeMovedRow(start, size);
                else
                    writeRow(start, size);
            }
        }
        // The table keeps its own count of rows. Fewer rows found means that
        // pages are missing (a file cut off, a map that cannot be read):
        // nothing may be lost without a word.
        if (m_written < m_table->num_rows)
            fail(Failure::Damaged, "the table counts %u rows, only %llu could be read", m_table->num_rows,
                 (unsigned long long)m_written);
        if (m_written > m_table->num_rows)
            std::fprintf(stderr, "bukurea-jet: the table counts %u rows, %llu were read\n", m_table->num_rows,
                         (unsigned long long)m_written);
        m_out.u8(EndTag);
        m_out.u64(m_written);
        m_out.commit();
    }

private:
    // The next data page of the table, in pg_buf. Unlike the library's own
    // walk, a page the map names beyond the end of the file is an error,
    // not the end of the table.
    bool nextDataPage()
    {
        for (;;) {
            const gint32 next =
                mdb_map_find_next(m_mdb, m_table->usage_map, unsigned(m_table->map_sz), m_table->cur_phys_pg);
            if (next < 0) {
                // The library says -1 both for a map it does not know and for
                // a map page it cannot read.
                if (m_table->map_sz > 0 && m_table->usage_map[0] <= 1)
                    fail(Failure::Damaged, "the table's page map lies beyond the end of the file");
                return nextPageByScan();
            }
            if (next == 0)
                return false;
            if (!readPage(unsigned(next)))
                fail(Failure::Damaged, "page %d of the table's map cannot be read", next);
            m_table->cur_phys_pg = guint32(next);
            if (isOurDataPage())
                return true;
            std::fprintf(stderr, "bukurea-jet: page %d of the map is not one of the table's data pages\n", next);
        }
    }

    // A map of an unknown kind: every page of the file, in order.
    bool nextPageByScan()
    {
        for (;;) {
            const guint32 next = m_table->cur_phys_pg + 1;
            if (!readPage(next))
                return false;
            m_table->cur_phys_pg = next;
            if (isOurDataPage())
                return true;
        }
    }

    // The library reads a page past the end of the file as zeros: a page
    // beyond the last is refused here.
    bool readPage(unsigned long page)
    {
        return page > 0 && page < m_pages && mdb_read_pg(m_mdb, page) == m_mdb->fmt->pg_size;
    }

    // A map that lists its bitmaps by page (kind 1) names no page beyond the
    // end; the library would read such a bitmap as empty and end the table
    // there. The pages a bitmap marks are checked as they are read.
    void checkMap()
    {
        const unsigned char *map = m_table->usage_map;
        if (!map || m_table->map_sz < 1 || map[0] != 1)
            return;
        for (size_t at = 1; at + 4 <= m_table->map_sz; at += 4) {
            const uint32_t page = le32(map + at);
            if (page != 0 && page >= m_pages)
                fail(Failure::Damaged, "the table's page map names page %u of %lu", page, m_pages);
        }
    }

    // A row of another page, for long values: the library's own lookup,
    // after checking that the page exists.
    bool findPageRow(uint32_t pointer, void **buf, int *start, size_t *size)
    {
        return (pointer >> 8) > 0 && (pointer >> 8) < m_pages
               && mdb_find_pg_row(m_mdb, int(pointer), buf, start, size) == 0;
    }

    bool isOurDataPage() const
    {
        return m_mdb->pg_buf[0] == MDB_PAGE_DATA && le32(m_mdb->pg_buf + 4) == m_table->entry->table_pg;
    }

    // A row that moved: at its place stands the page and row number of
    // where it went.
    void writeMovedRow(int start, size_t size)
    {
        if (size < 4)
            fail(Failure::Damaged, "a moved row without its pointer");
        const uint32_t pointer = le32(m_mdb->pg_buf + start);
        const guint32 here = m_table->cur_phys_pg;
        const unsigned page = pointer >> 8, row = pointer & 0xFF;
        if (!readPage(page) || !isOurDataPage()
            || row >= unsigned(mdb_get_int16(m_mdb->pg_buf, m_mdb->fmt->row_count_offset)))
            fail(Failure::Damaged, "a moved row points to page %u row %u", page, row);
        int movedStart = 0;
        size_t movedSize = 0;
        if (mdb_find_row(m_mdb, int(row), &movedStart, &movedSize) != 0 || movedSize == 0)
            fail(Failure::Damaged, "a moved row points to page %u row %u", page, row);
        writeRow(movedStart & 0x1FFF, movedSize);
        if (!readPage(here))
            fail(Failure::Unreadable, "page %u cannot be read again", here);
    }

    void writeRow(int start, size_t size)
    {
        if (mdb_crack_row(m_table, start, size, m_fields.data()) < 0)
            fail(Failure::Damaged, "row at %d of page %u cannot be read", start, m_table->cur_phys_pg);
        const size_t before = m_out.pending();
        m_out.u8(RowTag);
        for (size_t i = 0; i < m_columns.size(); ++i)
            writeValue(m_columns[i], m_fields[i]);
        if (m_out.pending() - before > MaxRowBytes)
            fail(Failure::TooLarge, "a row of %zu bytes", m_out.pending() - before);
        m_out.commit();
        ++m_written;
        m_out.flushIfFull();
    }

    void need(const MdbField &f, int bytes, const MdbColumn *c)
    {
        if (f.siz < bytes || !f.value)
            fail(Failure::Damaged, "column %s holds %d bytes, not %d", c->name, f.siz, bytes);
    }

    std::string text(const unsigned char *p, size_t n, const MdbColumn *c)
    {
        int bad = 0;
        std::string s = m_jet3 ? m_cp932.decode(p, n, &bad) : jet::jet4Text(p, n, &bad);
        if (bad)
            std::fprintf(stderr, "bukurea-jet: row %llu column %s: %d characters could not be decoded\n",
                         (unsigned long long)m_written + 1, c->name, bad);
        return s;
    }

    void writeValue(const MdbColumn *c, const MdbField &f)
    {
        const auto *p = static_cast<const unsigned char *>(f.value);
        if (c->col_type == MDB_BOOL) {
            // A Yes/No value lives in the row's null mask: set is Yes.
            m_out.u8(unsigned(Kind::Integer));
            m_out.u64(f.is_null ? 0 : 1);
            return;
        }
        if (f.is_null) {
            m_out.u8(unsigned(Kind::Null));
            return;
        }
        switch (c->col_type) {
        case MDB_BYTE:
            need(f, 1, c);
            integer(p[0]);
            return;
        case MDB_INT:
            need(f, 2, c);
            integer(int16_t(p[0] | p[1] << 8));
            return;
        case MDB_LONGINT:
            need(f, 4, c);
            integer(int32_t(le32(p)));
            return;
        case MDB_MONEY:
            need(f, 8, c);
            m_out.value(Kind::Decimal, jet::currencyText(int64_t(le32(p) | uint64_t(le32(p + 4)) << 32)));
            return;
        case MDB_FLOAT: {
            need(f, 4, c);
            float v;
            std::memcpy(&v, p, 4);
            real(double(v));
            return;
        }
        case MDB_DOUBLE: {
            need(f, 8, c);
            double v;
            std::memcpy(&v, p, 8);
            real(v);
            return;
        }
        case MDB_DATETIME: {
            need(f, 8, c);
            double v;
            std::memcpy(&v, p, 8);
            if (auto s = jet::dateText(v))
                m_out.value(Kind::Date, *s);
            else
                real(v); // outside the calendar Access knows: kept as the number it is
            return;
        }
        case MDB_NUMERIC: {
            need(f, 17, c);
            auto s = jet::decimalText(p, c->col_scale);
            if (!s)
                fail(Failure::Damaged, "column %s has scale %d", c->name, c->col_scale);
            m_out.value(Kind::Decimal, *s);
            return;
        }
        case MDB_TEXT: m_out.value(Kind::Text, text(p, size_t(f.siz), c)); return;
        case MDB_MEMO: {
            const std::string raw = longValue(f, c);
            m_out.value(Kind::Text, text(reinterpret_cast<const unsigned char *>(raw.data()), raw.size(), c));
            return;
        }
        case MDB_OLE: m_out.value(Kind::Blob, longValue(f, c)); return;
        default:
            m_out.value(Kind::Blob, std::string(reinterpret_cast<const char *>(p), size_t(std::max(f.siz, 0))));
            return;
        }
    }

    void integer(int64_t v)
    {
        m_out.u8(unsigned(Kind::Integer));
        m_out.u64(uint64_t(v));
    }
    void real(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        m_out.u8(unsigned(Kind::Real));
        m_out.u64(bits);
    }

    // A Memo or OLE value: a 12-byte header (length and kind, pointer to
    // its first part) followed by the value itself, or the value on one
    // long-value page, or spread over a chain of them.
    std::string longValue(const MdbField &f, const MdbColumn *c)
    {
        if (f.siz == 0)
            return {};
        need(f, MDB_MEMO_OVERHEAD, c);
        const auto *h = static_cast<const unsigned char *>(f.value);
        const uint32_t head = le32(h);
        const size_t length = head & 0x3FFFFFFF;
        if (length > MaxValueBytes)
            fail(Failure::TooLarge, "column %s holds %zu bytes", c->name, length);
        std::string out;
        switch (head & 0xC0000000) {
        case 0x80000000:
            if (length > size_t(f.siz) - MDB_MEMO_OVERHEAD)
                fail(Failure::Damaged, "column %s: %zu bytes in a field of %d", c->name, length, f.siz);
            out.assign(reinterpret_cast<const char *>(h + MDB_MEMO_OVERHEAD), length);
            return out;
        case 0x40000000: {
            void *buf = nullptr;
            int start = 0;
            size_t size = 0;
            if (!findPageRow(le32(h + 4), &buf, &start, &size) || size < length)
                fail(Failure::Damaged, "column %s: its long value cannot be found", c->name);
            out.assign(static_cast<const char *>(buf) + start, length);
            return out;
        }
        case 0: break;
        default: fail(Failure::Damaged, "column %s: a long value of unknown kind", c->name);
        }
        out.reserve(length);
        uint32_t pointer = le32(h + 4);
        while (out.size() < length) {
            void *buf = nullptr;
            int start = 0;
            size_t size = 0;
            // Every part holds the pointer to the next and at least one byte.
            if (!findPageRow(pointer, &buf, &start, &size) || size <= 4)
                fail(Failure::Damaged, "column %s: a part of its long value is missing", c->name);
            const auto *part = static_cast<const unsigned char *>(buf) + start;
            pointer = le32(part);
            out.append(reinterpret_cast<const char *>(part + 4), std::min(size - 4, length - out.size()));
        }
        return out;
    }

    MdbHandle *m_mdb;
    MdbTableDef *m_table;
    unsigned long m_pages;
    Out &m_out;
    bool m_jet3 = false;
    std::vector<MdbColumn *> m_columns;
    std::vector<MdbField> m_fields;
    jet::Cp932 m_cp932;
    unsigned long long m_written = 0;
};

int run(const char *path, const char *tableName, Out &out)
{
    const unsigned long pages = checkHeader(path);

    // The library looks a missing file up along MDBPATH (an empty part
    // there makes it search for ever), takes debug switches from MDBOPTS
    // and the code page of Jet 3 names from MDB_JET3_CHARSET.
    unsetenv("MDBPATH");
    unsetenv("MDBOPTS");
    setenv("MDB_JET3_CHARSET", "CP932", 1);
    setenv("MDBICONV", "UTF-8", 1);

    jet::Cp932 probe;
    if (!probe.ok())
        fail(Failure::Internal, "no CP932 converter");

    MdbHandle *mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        fail(Failure::Unreadable, "the Jet library cannot open the file");
    // The library reads the catalog (the table of all objects, whose
    // definition is on page 2) until the first page it cannot read, so a
    // file cut off within the catalog would seem to lack tables.
    {
        MdbCatalogEntry catalog{};
        catalog.mdb = mdb;
        catalog.object_type = MDB_TABLE;
        catalog.table_pg = 2;
        std::strcpy(catalog.object_name, "MSysObjects");
        MdbTableDef *objects = mdb_read_table(&catalog);
        if (!objects || !mdb_read_columns(objects))
            fail(Failure::Damaged, "the catalog's definition cannot be read");
        Out none(-1);
        TableReader(mdb, objects, pages, none).checkPages();
        mdb_free_tabledef(objects);
    }
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        fail(Failure::Damaged, "the catalog cannot be read");
    MdbCatalogEntry *entry = nullptr;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *e = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (e->object_type == MDB_TABLE && g_ascii_strcasecmp(e->object_name, tableName) == 0) {
            entry = e;
            break;
        }
    }
    if (!entry)
        fail(Failure::NoTable, "no table %s", tableName);
    MdbTableDef *table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        fail(Failure::Damaged, "the definition of table %s cannot be read", tableName);

    TableReader reader(mdb, table, pages, out);
    reader.writeHeader();
    out.flush();
    reader.writeRows();
    out.flush();
    mdb_free_tabledef(table);
    mdb_close(mdb);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_DFL);
    // The stream gets standard output's descriptor; whatever else writes to
    // standard output ends up on standard error.
    const int streamFd = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Out out(streamFd);
    out.bytes(Magic, sizeof Magic);
    out.u8(Version);
    out.commit();

    const char *table = "tabel";
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--table") == 0 && i + 1 < argc)
            table = argv[++i];
        else if (!path)
            path = argv[i];
        else
            path = nullptr, i = argc;
    }
    try {
        if (!path || argc > 4)
            fail(Failure::Usage, "usage: bukurea-jet [--table NAME] FILE");
        return run(path, table, out);
    } catch (const Fatal &f) {
        const std::string detail = f.detail.substr(0, MaxDetailBytes);
        std::fprintf(stderr, "bukurea-jet: %s: %s\n", path ? path : "", detail.c_str());
        out.dropUncommitted();
        out.u8(FailureTag);
        out.u8(unsigned(f.code));
        out.u16(unsigned(detail.size()));
        out.bytes(detail.data(), detail.size());
        out.commit();
        out.flush();
        return int(f.code);
    }
}
