#pragma once

#include "desktop_services.h"

// The real desktop services: QApplication::beep, QMessageBox, QDesktopServices.
class QtDesktopServices : public DesktopServices {
public:
    void beep() override;
    void showMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    void openUrl(const QString& target) override;
};
