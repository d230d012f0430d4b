// The About box: a plain modal dialog on template 100, ended by OK, Esc or the close box.
#pragma once

#include <QDialog>

namespace chiroscope {

class AboutBox : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace chiroscope
