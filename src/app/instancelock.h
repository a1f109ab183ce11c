#pragma once

#include <QString>

class QWidget;

namespace app {

// Tells a second running instance on one collection folder. Every instance
// holds a shared lock on a small lock file in the folder of the collection
// for as long as it runs; an instance that starts while another holds it
// is told. The system drops the lock with the process, also when it
// crashes, so nothing stale is ever left to clear. The collection file
// itself is never created or touched here.
class InstanceLock {
public:
    // Takes the lock in `folder`. A folder where the lock file cannot be
    // made (read-only) is taken as having no other instance.
    explicit InstanceLock(const QString &folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Whether another instance held the lock when this one was taken.
    bool otherInstance() const { return m_other; }
    static QString fileName() { return QStringLiteral(".bukurea.lock"); }

private:
    int m_fd = -1;
    bool m_other = false;
};

// At start: when another instance has the collection in `folder` open, says
// so and asks whether to go on. False when the user chose not to.
bool goOnBesideOtherInstance(const InstanceLock &lock, const QString &folder, QWidget *parent = nullptr);

} // namespace app
