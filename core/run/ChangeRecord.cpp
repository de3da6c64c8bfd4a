#include "run/ChangeRecord.h"

#include "platform/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char g_pending[4096];

void setPending(const QByteArray &path)
{
    const size_t n = std::min(sizeof g_pending - 1, size_t(path.size()));
    std::memcpy(g_pending, path.constData(), n);
    g_pending[n] = '\0';
}

} // namespace

const char *ChangeRecord::pendingFile()
{
    return g_pending[0] ? g_pending : nullptr;
}

QString ChangeRecord::passwordText(PasswordChange change, bool reader)
{
    if (!reader)
        return {};
    switch (change) {
    case PasswordChange::FollowsCard:
        return QStringLiteral("随证号变更");
    case PasswordChange::WasEmpty:
        return QStringLiteral("原为空，现为证号");
    case PasswordChange::Emptied:
        return QStringLiteral("原为证号，现为空");
    case PasswordChange::Unchanged:
        break;
    }
    return QStringLiteral("未变");
}

QString ChangeRecord::field(const QString &text)
{
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n')
        || (!text.isEmpty() && (text.front() == u' ' || text.back() == u' '));
    if (!quote)
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

void ChangeRecord::fail(const QString &what) const
{
    throw EAbort(QStringLiteral("无法写入变更记录%1：%2，系统没有做任何改动").arg(m_path, what));
}

ChangeRecord::ChangeRecord(const QString &path) : m_path(path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || info.isDir())
        fail(QStringLiteral("这是一个文件夹"));
    const QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                                 + QStringLiteral(".XXXXXX"));
    QByteArray name = pattern;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    // As any new file of the user's: the permissions the umask leaves.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    m_file = ::fdopen(fd, "w");
    if (!m_file) {
        ::close(fd);
        ::unlink(name.constData());
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    m_temporary = name;
    setPending(m_temporary);
    QStringList header;
    for (const QString &column : Header)
        header << field(column);
    write(header.join(u','));
}

ChangeRecord::~ChangeRecord()
{
    if (m_file)
        std::fclose(m_file);
    if (!m_published && !m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    g_pending[0] = '\0';
}

void ChangeRecord::write(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + "\r\n";
    if (!m_file || std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_file) != size_t(bytes.size()))
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void ChangeRecord::add(const ChangedCard &card)
{
    if (card.leftAlone) {
        write(field(card.oldNumber) + u',' + field(card.newNumber) + QStringLiteral(",,0,") + LeftAloneCategory);
        ++m_rows;
        return;
    }
    const QString category = !card.also.isEmpty() ? AlsoCategory + card.also : card.reader ? ReaderCategory : LoanOnlyCategory;
    write(field(card.oldNumber) + u',' + field(card.newNumber) + u',' + field(passwordText(card.password, card.reader))
          + u',' + QString::number(card.loans) + u',' + field(category));
    ++m_rows;
    // The loans that were under the reader's new number before the run: they stay there when the
    // run is taken back.
    if (card.joinedLoans > 0) {
        write(field(card.newNumber) + u',' + field(card.newNumber) + QStringLiteral(",,") + QString::number(card.joinedLoans)
              + u',' + JoinedCategory);
        ++m_rows;
    }
}

void ChangeRecord::finish()
{
    if (!m_file || std::fflush(m_file) != 0 || ::fsync(::fileno(m_file)) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void ChangeRecord::publish()
{
    // By now the run is committed: a failure here must not claim that nothing changed, and the rows
    // stay in the temporary file.
    const auto failAfter = [this](const QString &what) {
        m_published = true;
        g_pending[0] = '\0';
        throw NorvelError(QStringLiteral("变更记录没能保存为%1（%2），记录留在%3")
                              .arg(m_path, what, QFile::decodeName(m_temporary)));
    };
    if (!m_file || std::fflush(m_file) != 0 || ::fsync(::fileno(m_file)) != 0)
        failAfter(QString::fromLocal8Bit(std::strerror(errno)));
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (closed != 0)
        failAfter(QString::fromLocal8Bit(std::strerror(errno)));
    const QByteArray target = QFile::encodeName(QFileInfo(m_path).absoluteFilePath());
    if (::rename(m_temporary.constData(), target.constData()) != 0)
        failAfter(QString::fromLocal8Bit(std::strerror(errno)));
    m_published = true;
    g_pending[0] = '\0';
    // The new name on the disk too.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_path).absolutePath());
    if (const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
