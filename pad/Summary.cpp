#include "Summary.h"

#include <algorithm>

namespace {

// Right-aligns a figure under a heading of the given display width (a Chinese character takes two
// columns on a terminal).
QString cell(qint64 value, int width)
{
    return QString::number(value).rightJustified(width);
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

} // namespace

QString describeTarget(const QString &dataSource, const ServerIdentity &server, int length)
{
    const bool sqlite = server.product == QStringLiteral("SQLite");
    QString text;
    text += QStringLiteral("数据源：%1\n").arg(dataSource);
    QString product = (server.product + u' ' + server.version).trimmed();
    if (product.isEmpty())
        product = QStringLiteral("(驱动没有提供)");
    if (const QString where = server.where(); !where.isEmpty())
        product += QStringLiteral("（%1）").arg(where);
    text += QStringLiteral("服务器：%1\n").arg(product);
    text += (sqlite ? QStringLiteral("数据库文件：%1\n") : QStringLiteral("数据库：%1\n")).arg(server.database);
    if (sqlite)
        text += QStringLiteral("登录名：（SQLite没有登录名）\n");
    else
        text += QStringLiteral("登录名：%1\n").arg(server.login);
    text += QStringLiteral("借书证长度：%1\n\n").arg(length);
    return text;
}

QString summarize(const PaddingReport &report, const QStringList &resultLines)
{
    const QStringList headings{QStringLiteral("长度"), QStringLiteral("补0的读者"), QStringLiteral("补0的借阅记录"),
                               QStringLiteral("未处理的读者"), QStringLiteral("密码随证号变更")};
    QList<int> widths;
    QString text;
    for (const QString &heading : headings) {
        widths << std::max(displayWidth(heading), 6);
        text += QString(widths.last() - displayWidth(heading) + 2, u' ') + heading;
    }
    text += u'\n';
    const auto row = [&](const QString &label, const PassFigures &f) {
        QString line = QString(widths[0] - displayWidth(label) + 2, u' ') + label;
        const qint64 values[] = {f.readersPadded, f.loansPadded, f.readersLeftAlone, f.passwordsFollowing};
        for (int i = 0; i < 4; ++i)
            line += QStringLiteral("  ") + cell(values[i], widths[i + 1]);
        return line + u'\n';
    };
    for (const PassFigures &pass : report.passes)
        text += row(QString::number(pass.length), pass);
    text += row(QStringLiteral("合计"), report.totals());
    text += QStringLiteral("原为空、改为借书证号的密码：%1\n").arg(report.emptyPasswordsFilled);
    const PassFigures totals = report.totals();
    if (totals.loansJoined > 0)
        text += QStringLiteral("原已在补0后的证号下、现在归属该读者的借阅记录：%1\n").arg(totals.loansJoined);
    if (totals.alsoPadded > 0)
        text += QStringLiteral("其他表中随读者补0的值（--also）：%1\n").arg(totals.alsoPadded);
    if (!report.cascadingColumns.isEmpty()) {
        text += QStringLiteral("随读者的证号由外键级联改动的列：%1\n").arg(report.cascadingColumns.join(QStringLiteral("，")));
    }
    if (!report.caseTwins.isEmpty()) {
        text += QStringLiteral("警告：这个数据库区分大小写或全角半角，以下证号补0后与另一位读者的证号只差大小写或全角半角，"
                               "处理后两者并存（在SQL Server上它们算同一个证号）：\n");
        for (const CaseTwin &twin : report.caseTwins)
            text += QStringLiteral("  %1 → %2（已有%3）\n").arg(twin.number, twin.padded, twin.other);
    }
    text += u'\n';
    for (const QString &line : resultLines)
        text += line + u'\n';
    return text;
}

bool nothingToChange(const PaddingReport &report)
{
    const PassFigures totals = report.totals();
    return totals.readersPadded == 0 && totals.loansPadded == 0 && totals.passwordsFollowing == 0
        && report.emptyPasswordsFilled == 0;
}
