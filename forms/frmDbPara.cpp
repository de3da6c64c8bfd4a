#include "forms/frmDbPara.h"
#include "ui_frmDbPara.h"

TDbPara::TDbPara(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TDbPara>())
{
    ui->setupUi(this);
}

TDbPara::~TDbPara() = default;
