#include "qt_desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QRegularExpression>
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
    QDesktopServices::openUrl(addressOf(target));
}

QUrl QtDesktopServices::addressOf(const QString& target)
{
    // A scheme starts the text and ends at its first ':'; "host:8080" names a port, not a scheme.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9])"));
    if (scheme.match(target).hasMatch())
        return QUrl(target, QUrl::TolerantMode);
    if (target.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(target);
    const bool mail = target.contains(QLatin1Char('@')) && !target.contains(QLatin1Char('/'));
    return QUrl((mail ? QStringLiteral("mailto:") : QStringLiteral("http://")) + target, QUrl::TolerantMode);
}
