#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A file that keeps a record of a run (readers' card numbers) and appears under its name only when
// it is published.
//
// - The name is never taken from anything that is there: an existing file, folder, device or
//   symbolic link is refused before the run (refusal()) and is not replaced when publishing either
//   (renameat2() with RENAME_NOREPLACE, or link() where the file system cannot rename that way).
// - The rows go to a new hidden file in the same folder, ".NAME.XXXXXX", created exclusively and
//   without following a link (O_EXCL, O_NOFOLLOW), with mode 0600 whatever the umask, or 0640 in a
//   set-group-ID folder (the file then belongs to the folder's group, and the group may read it).
//   This process holds a lock on it (flock) for as long as it has it open.
// - commitSent() renames it ".NAME.XXXXXX.committing" just before the run's commit is sent. So a
//   later run with the same name can tell what a killed run left: a file whose commit was never
//   sent holds nothing that happened, and is removed; one whose commit was sent may be the only
//   record of a change, and is named, never removed (cleanLeftovers()).
// - A file that is not published is removed when the object goes, unless its commit was sent.
//
// Names are handled relative to the folder as it was opened, so a folder renamed meanwhile does
// not send the file elsewhere.
class RecordFile
{
public:
    // Why a new record cannot be written under this name (it exists, in any form); empty when it can.
    // A folder that does not exist or cannot be written is found when the file is made.
    static QString refusal(const QString &path);

    // Creates the hidden file; `what` names the record in messages ("变更记录"). Raises EAbort
    // (nothing has changed yet) when that fails.
    RecordFile(const QString &path, const QString &what);
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Appends; raises EAbort when the bytes cannot be written.
    void write(const QByteArray &bytes);
    // Everything written is on the disk; raises EAbort when not.
    void sync();
    // The open file (for a library that writes it by name: "/proc/self/fd/N" names exactly it).
    int descriptor() const { return m_fd; }
    QString writablePath() const;

    // Marks the file as the record of a commit that is about to be sent; raises EAbort when it
    // cannot be renamed (the run then rolls back).
    void commitSent();
    // Puts the file in place under its name. False when that fails, with the reason; the file then
    // stays, complete, under keptPath().
    bool publish(QString *why = nullptr);

    const QString &path() const { return m_path; }
    bool published() const { return m_published; }
    // Where the file is now: its name once published, the hidden name before.
    QString keptPath() const;

    // Writes a small file that must not exist yet (a note beside a record), with the modes above.
    // Returns the reason when it cannot, else an empty text.
    static QString writeNew(const QString &path, const QByteArray &content);

    // What earlier runs left beside a record of this name (hidden files of the pattern above).
    struct Leftovers
    {
        QStringList removed;      // files of a run that was never committed, now gone
        QStringList committing;   // files of a run whose commit was sent: kept
        QStringList inUse;        // files another running process holds
        QStringList unknown;      // files of the pattern that are not provably such a leftover
    };
    // Removes what is provably a leftover of a killed run of this program's: a hidden file of the
    // pattern, a regular file of this user's with one link, held by no process, whose content is
    // empty or starts with `signature`, and whose commit was never sent. Names the rest.
    static Leftovers cleanLeftovers(const QString &path, const QByteArray &signature);

    // Removes every hidden file of this process whose commit was not sent: for the thread that ends
    // the process on a signal before the commit. Safe to call from any thread (not from a signal
    // handler).
    static void discardUnsent();

private:
    [[noreturn]] void fail(const QString &what) const;
    QByteArray hiddenName() const;

    QString m_path;
    QString m_what;
    QByteArray m_name;        // the final file name in its folder
    QByteArray m_temporary;   // the hidden file's name in the folder
    int m_dir = -1;
    int m_fd = -1;
    bool m_committing = false;
    bool m_published = false;
};
