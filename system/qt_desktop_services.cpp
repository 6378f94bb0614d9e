#include "qt_desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

void QtDesktopServices::beep()
{
    QApplication::beep();
}

void QtDesktopServices::showMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon)
{
    QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
                    QMessageBox::Ok, parent);
    box.exec();
}

void QtDesktopServices::openUrl(const QString& target)
{
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}
