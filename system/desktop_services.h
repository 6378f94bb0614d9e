#pragma once

#include <QString>

class QWidget;

// The desktop's services the windows use: the message beep, message boxes and
// the shell's "open".
class DesktopServices {
public:
    enum class Icon { Information, Error };

    virtual ~DesktopServices() = default;
    // The platform's default message beep.
    virtual void beep() = 0;
    // A modal message box with one OK button.
    virtual void showMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
    // An error box titled with the program's title.
    void showError(QWidget* parent, const QString& text);
    // Hands the target unchanged to the desktop's handler; failures are ignored.
    virtual void openUrl(const QString& target) = 0;
};
