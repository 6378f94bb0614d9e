#pragma once

#include "desktop_services.h"

#include <QList>
#include <QString>
#include <QStringList>

// Desktop services that only record what was asked of them; for tests and the
// benchmark, where nothing may beep, block in a modal box or open a browser.
class RecordingDesktopServices : public DesktopServices {
public:
    struct Message {
        QString caption;
        QString text;
        Icon icon;
    };

    void beep() override { ++beeps; }
    void showMessage(QWidget*, const QString& caption, const QString& text, Icon icon) override
    {
        messages.append({caption, text, icon});
    }
    void openUrl(const QString& target) override { opened.append(target); }

    int beeps = 0;
    QList<Message> messages;
    QStringList opened;
};
