#pragma once

#include <QString>

// Writing a file so that it is either complete or not there: the bytes go to
// a temporary file beside the target, which is synced, renamed to the
// target's name and made durable by syncing the folder. Every system call
// the program makes to write or replace a file lives in durablefile.cpp;
// functions here return 0 or the system's error number (errno), which
// store::systemReason() words for the user.
//
// Temporary files carry a name no other program uses:
//   .<target name>.bukurea-<process id>-<six random letters or digits>.tmp
// so that one left behind by a killed process can be told from a user's
// file and removed once its process is gone (removeStaleTemporaries()).
namespace store::durable {

enum class Replace { Existing, Never };

// A new, empty temporary file beside `target`, open for writing, with the
// permissions a new file gets. Removed on destruction unless committed.
class TempFile {
public:
    explicit TempFile(const QString &target);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // 0 when the file was made, else the error of making it.
    int error() const { return m_error; }
    const QString &path() const { return m_path; }
    const QString &target() const { return m_target; }

    // Appends bytes; 0 or errno.
    int write(const char *data, qint64 size);
    // Appends the whole content of `source`; 0 or errno, with `atSource`
    // telling whether reading (not writing) failed.
    int copyFrom(const QString &source, bool &atSource);
    // Appends the first `size` bytes of the open file `source`, which is
    // read by position and neither moved nor closed (it may be another
    // library's). The kernel copies them: as a clone sharing the blocks
    // where the file system can (Btrfs, XFS), else with copy_file_range,
    // else (across file systems, on older kernels) through a buffer.
    // 0 or errno, with `atSource` as above; a source shorter than `size`
    // gives EIO at the source.
    int copyFrom(int source, qint64 size, bool &atSource);
    // Reads back `size` bytes from `offset` of what was written; 0 or errno
    // (EIO when the file ends before).
    int readBack(char *data, qint64 size, qint64 offset) const;
    // The size of what was written; -1 when unknown.
    qint64 size() const;
    // Gives the file the permission bits of `file` (when it exists) and,
    // when `withTime`, its modification time.
    void copyAttributesOf(const QString &file, bool withTime = false);
    // Closes the descriptor, so that another library (SQLite) can write the
    // file by its path; sync() and commit() reopen it as needed.
    int closeHandle();
    // Flushes the content to the disk.
    int sync();
    // Syncs the content, renames the file to `target` (replacing an
    // existing file or, with Replace::Never, failing with EEXIST) and syncs
    // the folder. On failure the target is untouched and the temporary is
    // kept until destruction (or the next commit attempt, e.g. under
    // another name after EEXIST).
    int commit(Replace mode = Replace::Existing);
    // The same, to another name in the same folder.
    int commitAs(const QString &target, Replace mode);

private:
    QString m_target, m_path;
    int m_fd = -1;
    int m_error = 0;
    // Bytes written, and how far the system was asked to write them out.
    static constexpr qint64 WritebackStep = 4 << 20;
    qint64 m_written = 0, m_started = 0;
    bool m_committed = false;
};

// Flushes a file, or a folder's list of names, to the disk; 0 or errno.
int syncPath(const QString &path);
// Renames `from` to `to` in the same folder, replacing or not; 0 or errno
// (EEXIST when `to` exists and mode is Replace::Never).
int rename(const QString &from, const QString &to, Replace mode);
// Makes the folder and syncs its parent; 0 or errno.
int makeFolder(const QString &path);
// Removes a file; 0 or errno.
int remove(const QString &path);
// 0 when `path` can be opened for reading, else errno.
int openError(const QString &path);
// True when the open descriptor `fd` is the file at `path` (the same
// device and inode, links followed).
bool isDescriptorOf(int fd, const QString &path);
// Lets copies go through the kernel (the default) or, with false, only
// through a buffer, as they go where the kernel cannot copy (tests).
void setKernelCopy(bool allowed);
// True when `path` itself is a symbolic link.
bool isSymLink(const QString &path);
// The file a link at `path` finally points to (absolute); `path` itself,
// made absolute, when it is no link. A replacement written for this path
// goes beside the real file, so that the link stays a link.
QString followLinks(const QString &path);

// True when `name` (a file name, no folder) is one of our temporaries.
bool isTemporaryName(const QString &name);
// Removes our temporaries in `folder` whose process is gone, or that are
// older than `maxAgeSecs` (a process id may be reused). Only regular files
// owned by this user that match the exact name pattern are touched; a
// temporary of a running process is never removed. Returns how many.
int removeStaleTemporaries(const QString &folder, qint64 maxAgeSecs = 24 * 3600);

} // namespace store::durable
