#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TDbPara;
}

class TDbPara : public QWidget
{
    Q_OBJECT

public:
    explicit TDbPara(QWidget *parent = nullptr);
    ~TDbPara() override;

private:
    std::unique_ptr<Ui::TDbPara> ui;
};
