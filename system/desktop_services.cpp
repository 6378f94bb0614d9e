#include "desktop_services.h"

#include "program_title.h"

void DesktopServices::showError(QWidget* parent, const QString& text)
{
    showMessage(parent, ProgramTitle(), text, Icon::Error);
}
