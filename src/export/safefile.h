#pragma once

#include <QIODevice>
#include <QString>

#include <memory>

namespace store::durable {
class TempFile;
}

namespace exporting {

// Writes a file that replaces `path` only once it is complete: the bytes go
// to a temporary file beside it, which commit() syncs to disk and renames
// over `path` (store/durablefile.h). Until then, and whatever fails, the
// file that was there is left as it was, and a discarded or failed write
// leaves no temporary file. A link at `path` stays a link: the file it
// points to is replaced. Every failure keeps the system's error number, so
// that its reason can be told (store::systemReason()).
class SafeFile : public QIODevice {
public:
    explicit SafeFile(const QString &path);
    ~SafeFile() override;

    // Creates the temporary file; false on failure.
    bool open();
    // Syncs, closes and renames; false on failure (the temporary file is
    // removed then).
    bool commit();
    // The errno of the first failure, 0 when none.
    int systemError() const { return m_errno; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool fail(int error);

    QString m_path;
    std::unique_ptr<store::durable::TempFile> m_temp;
    int m_errno = 0;
};

} // namespace exporting
