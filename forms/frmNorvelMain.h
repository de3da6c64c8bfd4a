#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TNorvelMain;
}

class TNorvelMain : public QWidget
{
    Q_OBJECT

public:
    explicit TNorvelMain(QWidget *parent = nullptr);
    ~TNorvelMain() override;

private:
    std::unique_ptr<Ui::TNorvelMain> ui;
};
