#include "forms/frmDbPara.h"
#include "ui_frmDbPara.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "connection/StoredSettings.h"
#include "forms/WindowLook.h"
#include "platform/MachineStore.h"
#include "shell/NorvelApplication.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

namespace {

// The layout was made for a face whose Latin letters are half as wide as a Chinese character and
// whose lines are exactly as high as the characters. A label whose text does not fit in the
// installed face grows, as an auto-sized label does: to the height of a line (an underline sits
// below the characters) and to the width of its text, away from the edge its text is aligned to,
// so that a right-aligned caption still ends where its edit begins.
void fitToText(QLabel *label)
{
    const QFontMetrics metrics = label->fontMetrics();
    QRect bounds = label->geometry();
    bounds.setHeight(std::max(bounds.height(), metrics.height()));
    const int needed = metrics.horizontalAdvance(label->text());
    if (needed > bounds.width()) {
        if (label->alignment() & Qt::AlignRight)
            bounds.setLeft(bounds.left() + bounds.width() - needed);
        else
            bounds.setWidth(needed);
    }
    label->setGeometry(bounds);
}

} // namespace

TDbPara::TDbPara(QWidget *parent)
    : QWidget(parent, WindowLook::FixedDialogFrame),
      ui(std::make_unique<Ui::TDbPara>())
{
    // Before the controls are made: they have style sheets of their own (the colours, the password
    // character). The warning beside the settings is larger than the rest.
    WindowLook::prepare(this);
    ui->setupUi(this);
    QFont warningFont = ui->Label10->font();
    warningFont.setPixelSize(15);
    ui->Label10->setFont(warningFont);
    for (QLabel *label : findChildren<QLabel *>())
        fitToText(label);

    WindowLook::fixAndCentre(this, QSize(ClientWidth, CollapsedClientHeight));

    // The window sees every key before its controls do (FormKeyPress).
    for (QWidget *control : findChildren<QWidget *>())
        control->installEventFilter(this);
    ui->btExit->setFocus();

    // An error while filling the fields is shown, and the window opens all the same.
    NorvelApplication::handle([this] { FormCreate(); });
}

TDbPara::~TDbPara() = default;

bool TDbPara::eventFilter(QObject *watched, QEvent *event)
{
    // Once per key: a key the focused control does not use travels on to the controls around it.
    if (event->type() == QEvent::KeyPress && watched == focusWidget())
        FormKeyPress(static_cast<QKeyEvent *>(event));
    return QWidget::eventFilter(watched, event);   // the control still gets the key
}

void TDbPara::FormCreate()
{
    setWindowTitle(QStringLiteral("设置数据库【") + LibConnection::SettingsName + QStringLiteral("】连接参数"));
    // As start-up reads them (the same class).
    StoredSettings stored;
    if (stored.open()) {
        // One field after the other: a value that cannot be read or decoded leaves the rest empty.
        ui->edOdbc->setText(stored.odbcName());
        ui->edUser->setText(stored.userName());
        ui->edPass->setText(stored.password());
    } else {
        ui->edOdbc->clear();
        ui->edUser->clear();
        ui->edPass->clear();
    }
}

// Enter typed in an edit moves on to the next control, as Tab does; a focused button takes Enter
// itself and is pressed by it.
void TDbPara::FormKeyPress(QKeyEvent *key)
{
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        && qobject_cast<QLineEdit *>(focusWidget()))
        focusNextChild();
}

void TDbPara::btModClick()
{
    ui->grbBox->show();
    setFixedSize(ClientWidth, ExpandedClientHeight);
}

void TDbPara::btOkClick()
{
    NorvelApplication::handle([this] {
        MachineStore reg;
        if (!reg.KeyExists(LibConnection::VendorKey))
            reg.CreateKey(LibConnection::VendorKey);
        if (!reg.KeyExists(LibConnection::SettingsKey))
            reg.CreateKey(LibConnection::SettingsKey);
        if (reg.OpenKey(LibConnection::SettingsKey, true)) {
            reg.WriteString(StoredSettings::OdbcNameValue, TrimSetting(ui->edOdbc->text()));
            reg.WriteString(StoredSettings::UserNameValue, StoredSettings::encoded(ui->edUser->text()));
            reg.WriteString(StoredSettings::PasswordValue, StoredSettings::encoded(ui->edPass->text()));
        } else {
            WindowLook::information(this, QStringLiteral("提示信息"),
                                    QStringLiteral("保存您配置的参数失败！只有具有权限的用户，如Administrator才能修改，"
                                                   "请与系统管理员联系！"));
        }
        reg.CloseKey();
        close();
    });
}

void TDbPara::btExitClick()
{
    close();
}
