#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

// Whether root may trust what a file says: nobody but root may change the file, the folders above
// it (up to "/"), or, where a link is on the way, the link and the folders of what it leads to.
//
// An entry others may change is one owned by another user than root, or one its group or everyone
// may write to. One exception: a folder owned by root that everyone may write to but that has the
// sticky bit (/tmp) counts as root's, because in it nobody but root may remove or rename what root
// owns; the entries below it are checked as usual, so a folder another user made there is refused.
// Entries that do not exist (the file before it is first saved) are not counted.
struct UntrustedEntry
{
    QString path;
    uid_t owner = 0;
    mode_t mode = 0;
    bool ownedByOther = false;
    bool writableByOthers = false;
};

// The first entry, from the file upwards, that others than root may change; nothing when there is
// none.
std::optional<UntrustedEntry> entryOthersMayChange(const QString &file);

// A sentence (Chinese) saying what is wrong with the entry and the commands that mend it, such as
// "/etc/xdg/Kestavo属于用户alice（uid 1000），可由组或其他用户写入（权限0777）；请执行chown root '/etc/xdg/Kestavo'和chmod go-w '/etc/xdg/Kestavo'".
QString describeUntrusted(const UntrustedEntry &entry);
