#include "export/cfb_writer.h"

#include <QIODevice>
#include <QtEndian>

#include <array>
#include <cstring>

namespace exporting {

namespace {

constexpr quint32 SectorSize = 512;
constexpr quint32 EntriesPerFatSector = SectorSize / 4;            // 128
constexpr quint32 HeaderFatEntries = 109;                          // DIFAT slots in the header
constexpr quint32 EntriesPerDifatSector = EntriesPerFatSector - 1; // last slot links on

// Marker values in the allocation tables.
constexpr quint32 DifSect = 0xFFFFFFFC; // sector holds DIFAT
constexpr quint32 FatSect = 0xFFFFFFFD; // sector holds FAT
constexpr quint32 EndOfChain = 0xFFFFFFFE;
constexpr quint32 FreeSect = 0xFFFFFFFF;
constexpr quint32 NoStream = 0xFFFFFFFF; // "no entry" in directory links

using Sector = std::array<char, SectorSize>;

void put16(char *p, quint16 v) { qToLittleEndian(v, p); }
void put32(char *p, quint32 v) { qToLittleEndian(v, p); }

quint32 ceilDiv(quint64 a, quint64 b) { return quint32((a + b - 1) / b); }

// One 128-byte directory entry. Unused entries keep the name empty, the type
// 0 and every link at NoStream.
void putDirEntry(char *e, const QString &name, quint8 type, quint32 child, quint32 startSector, quint64 size)
{
    std::memset(e, 0, 128);
    for (int i = 0; i < name.size(); ++i)
        put16(e + 2 * i, name.at(i).unicode());
    put16(e + 64, name.isEmpty() ? 0 : quint16((name.size() + 1) * 2)); // bytes incl. NUL
    e[66] = char(type);
    e[67] = 1;               // black: a tree of one node per level is valid all black
    put32(e + 68, NoStream); // left sibling
    put32(e + 72, NoStream); // right sibling
    put32(e + 76, child);
    put32(e + 116, startSector);
    put32(e + 120, quint32(size)); // version 3: the high half stays zero
}

} // namespace

CompoundFileWriter::CompoundFileWriter(QIODevice &out) : m_out(out) {}

bool CompoundFileWriter::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool CompoundFileWriter::put(const char *data, qint64 size)
{
    if (m_out.write(data, size) != size)
        return fail(QStringLiteral("Cannot write the workbook file: %1").arg(m_out.errorString()));
    return true;
}

bool CompoundFileWriter::begin(const QString &streamName, quint64 streamSize)
{
    if (m_begun)
        return fail(QStringLiteral("The compound file was already started"));
    if (streamName.isEmpty() || streamName.size() > 31)
        return fail(QStringLiteral("Invalid stream name \"%1\"").arg(streamName));
    if (streamSize > MaxStreamSize)
        return fail(QStringLiteral("The workbook is too large for the file format (%1 bytes, at most %2)")
                        .arg(streamSize)
                        .arg(MaxStreamSize));
    if (!m_out.isOpen() || !m_out.isWritable())
        return fail(QStringLiteral("The workbook file is not open for writing"));

    m_begun = true;
    m_streamSize = streamSize;
    m_paddedSize = qMax(streamSize, MiniStreamCutoff);

    // Count the sectors. The FAT has to describe every sector including its
    // own and the DIFAT's, so grow the counts until they cover themselves.
    const quint32 streamSectors = ceilDiv(m_paddedSize, SectorSize);
    quint32 fatSectors = 0, difatSectors = 0;
    for (;;) {
        const quint64 total = quint64(fatSectors) + difatSectors + 1 + streamSectors;
        const quint32 needFat = ceilDiv(total, EntriesPerFatSector);
        const quint32 needDifat =
            needFat > HeaderFatEntries ? ceilDiv(needFat - HeaderFatEntries, EntriesPerDifatSector) : 0;
        if (needFat == fatSectors && needDifat == difatSectors)
            break;
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    const quint32 dirSector = fatSectors + difatSectors;
    const quint32 firstStreamSector = dirSector + 1;
    const quint32 lastStreamSector = firstStreamSector + streamSectors - 1;

    // Header.
    Sector s{};
    static const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(s.data(), signature, 8);
    put16(s.data() + 24, 0x003E); // minor version
    put16(s.data() + 26, 0x0003); // major version 3: 512-byte sectors
    put16(s.data() + 28, 0xFFFE); // byte order mark: little endian
    put16(s.data() + 30, 9);      // sector size 2^9
    put16(s.data() + 32, 6);      // mini sector size 2^6
    put32(s.data() + 44, fatSectors);
    put32(s.data() + 48, dirSector);
    put32(s.data() + 56, quint32(MiniStreamCutoff));
    put32(s.data() + 60, EndOfChain); // no mini FAT
    put32(s.data() + 64, 0);
    put32(s.data() + 68, difatSectors ? fatSectors : EndOfChain);
    put32(s.data() + 72, difatSectors);
    for (quint32 i = 0; i < HeaderFatEntries; ++i)
        put32(s.data() + 76 + 4 * i, i < fatSectors ? i : FreeSect);
    if (!put(s.data(), SectorSize))
        return false;

    // FAT: what follows each sector. The stream is one chain of consecutive
    // sectors; the directory is a chain of one.
    auto fatEntry = [&](quint32 sector) -> quint32 {
        if (sector < fatSectors)
            return FatSect;
        if (sector < dirSector)
            return DifSect;
        if (sector == dirSector)
            return EndOfChain;
        if (sector < lastStreamSector)
            return sector + 1;
        if (sector == lastStreamSector)
            return EndOfChain;
        return FreeSect;
    };
    for (quint32 f = 0; f < fatSectors; ++f) {
        for (quint32 i = 0; i < EntriesPerFatSector; ++i)
            put32(s.data() + 4 * i, fatEntry(f * EntriesPerFatSector + i));
        if (!put(s.data(), SectorSize))
            return false;
    }

    // DIFAT: the FAT sector numbers beyond the header's 109, 127 a sector,
    // each sector ending with the number of the next DIFAT sector.
    for (quint32 d = 0; d < difatSectors; ++d) {
        for (quint32 i = 0; i < EntriesPerDifatSector; ++i) {
            const quint32 fat = HeaderFatEntries + d * EntriesPerDifatSector + i;
            put32(s.data() + 4 * i, fat < fatSectors ? fat : FreeSect);
        }
        put32(s.data() + 4 * EntriesPerDifatSector, d + 1 < difatSectors ? fatSectors + d + 1 : EndOfChain);
        if (!put(s.data(), SectorSize))
            return false;
    }

    // Directory: the root storage (type 5) whose only child is the stream
    // (type 2), then two unused entries to fill the sector.
    s.fill(0);
    putDirEntry(s.data(), QStringLiteral("Root Entry"), 5, 1, EndOfChain, 0);
    putDirEntry(s.data() + 128, streamName, 2, NoStream, firstStreamSector, m_paddedSize);
    putDirEntry(s.data() + 256, QString(), 0, NoStream, 0, 0);
    putDirEntry(s.data() + 384, QString(), 0, NoStream, 0, 0);
    return put(s.data(), SectorSize);
}

bool CompoundFileWriter::writeStream(const char *data, qint64 size)
{
    if (!m_begun)
        return fail(QStringLiteral("The compound file was not started"));
    if (size < 0 || m_streamWritten + quint64(size) > m_streamSize)
        return fail(QStringLiteral("More workbook data than announced"));
    m_streamWritten += quint64(size);
    return put(data, size);
}

bool CompoundFileWriter::finish()
{
    if (!m_begun)
        return fail(QStringLiteral("The compound file was not started"));
    if (m_streamWritten != m_streamSize)
        return fail(QStringLiteral("Less workbook data than announced (%1 of %2 bytes)")
                        .arg(m_streamWritten)
                        .arg(m_streamSize));
    // Zeros up to the recorded size, then to the end of the last sector.
    const quint64 end = quint64(ceilDiv(m_paddedSize, SectorSize)) * SectorSize;
    static const Sector zeros{};
    for (quint64 pos = m_streamWritten; pos < end;) {
        const quint64 n = qMin<quint64>(SectorSize, end - pos);
        if (!put(zeros.data(), qint64(n)))
            return false;
        pos += n;
    }
    return true;
}

} // namespace exporting
