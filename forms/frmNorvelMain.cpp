#include "forms/frmNorvelMain.h"
#include "ui_frmNorvelMain.h"

TNorvelMain::TNorvelMain(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TNorvelMain>())
{
    ui->setupUi(this);
}

TNorvelMain::~TNorvelMain() = default;
