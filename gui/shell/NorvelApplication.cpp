#include "shell/NorvelApplication.h"

#include "platform/Exceptions.h"

#include <QFont>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

NorvelApplication::NorvelApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(Title);

    // The interface is Chinese whatever the locale: Qt's standard buttons read "确定", "取消".
    auto *translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);

    // The windows ask for "宋体"; no Linux font answers to that name. Map it (and its Latin name)
    // to the installed CJK face, so Latin letters and Chinese come from one font.
    const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                             QStringLiteral("Droid Sans Fallback")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjk);
}

NorvelApplication::~NorvelApplication() = default;

QString NorvelApplication::errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString NorvelApplication::messageOf(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const NorvelError *>(&error))
        return own->message();
    return QString::fromLocal8Bit(error.what());
}

void NorvelApplication::showException(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, Title, errorBoxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool NorvelApplication::notify(QObject *receiver, QEvent *event)
{
    QString message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        message = messageOf(error);
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    QTimer::singleShot(0, this, [message] { showException(message); });
    return false;
}
