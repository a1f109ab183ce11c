#pragma once

// Writer of a Compound File ("OLE2 structured storage", version 3 with
// 512-byte sectors) that holds exactly one stream in its root storage.
// Excel 97-2003 workbooks are such files with a stream named "Workbook".
//
// The file is written front to back in one pass: the caller states the
// stream's size up front, so the allocation table and the directory can be
// written before the stream data, and the stream data is passed through to
// the device as it comes, never held here.
//
// Layout of the file written (sector numbers in brackets):
//   header (512 bytes, not a numbered sector)
//   [0, F)        allocation table (FAT) sectors
//   [F, F+X)      DIFAT sectors, only when more than 109 FAT sectors are
//                 needed (the header lists the first 109 FAT sectors itself)
//   [F+X]         the one directory sector (root entry + the stream entry)
//   [F+X+1, ...)  the stream, in consecutive sectors
//
// Streams shorter than 4096 bytes would have to live in the "mini stream";
// to avoid writing one, the stream is padded with zero bytes to 4096 bytes
// and its size recorded as 4096. A BIFF reader stops at the EOF records, so
// trailing zeros are harmless (Excel pads small workbook streams the same way).

#include <QString>
#include <QtGlobal>

class QIODevice;

namespace exporting {

class CompoundFileWriter {
public:
    // Streams at or above this size are refused: version 3 files limit a
    // stream to 2 GiB, and BIFF stores stream offsets in 32 bits anyway.
    static constexpr quint64 MaxStreamSize = 0x7FFFFFFFu;
    // Streams shorter than this are padded up to it (no mini stream needed).
    static constexpr quint64 MiniStreamCutoff = 4096;

    explicit CompoundFileWriter(QIODevice &out);

    // Writes the header, the allocation tables and the directory for one
    // stream of exactly `streamSize` bytes named `streamName` (at most 31
    // UTF-16 units). Returns false with error() on failure.
    bool begin(const QString &streamName, quint64 streamSize);
    // Appends stream data. All calls together must supply exactly the size
    // given to begin().
    bool writeStream(const char *data, qint64 size);
    // Pads the stream to its recorded size and the last sector to its end.
    bool finish();

    QString error() const { return m_error; }

private:
    bool put(const char *data, qint64 size);
    bool fail(const QString &message);

    QIODevice &m_out;
    QString m_error;
    quint64 m_streamSize = 0;    // bytes the caller promised
    quint64 m_streamWritten = 0; // bytes the caller supplied so far
    quint64 m_paddedSize = 0;    // size recorded in the directory (>= 4096)
    bool m_begun = false;
};

} // namespace exporting
