#include "page_arrow.h"

#include "velkaro_resources.h"

#include <QDir>
#include <QPixmap>
#include <QString>

QIcon pageArrowIcon(Qt::ArrowType direction)
{
    initVelkaroResources();
    const QString base = direction == Qt::LeftArrow ? QStringLiteral(":/velkaro/arrow_left")
                                                     : QStringLiteral(":/velkaro/arrow_right");
    QIcon icon;
    icon.addPixmap(QPixmap(base + QStringLiteral(".xpm")), QIcon::Normal);
    icon.addPixmap(QPixmap(base + QStringLiteral("_disabled.xpm")), QIcon::Disabled);
    return icon;
}

QIcon programIcon()
{
    initVelkaroResources();
    QIcon icon;
    const QDir sizes(QStringLiteral(":/velkaro/program_icon"));
    for (const QString& file : sizes.entryList(QDir::Files))
        icon.addFile(sizes.filePath(file));
    return icon;
}
