#pragma once

#include "desktop_services.h"

class QUrl;

// The real desktop services: QApplication::beep, QMessageBox, QDesktopServices.
class QtDesktopServices : public DesktopServices {
public:
    void beep() override;
    void showMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    void openUrl(const QString& target) override;

    // The address the desktop's handler gets for a target: the text as it is, with a
    // scheme put in front where it has none (mailto: for a mail address, file: for an
    // absolute path, http: otherwise). Not trimmed: a blank stays part of the address.
    static QUrl addressOf(const QString& target);
};
