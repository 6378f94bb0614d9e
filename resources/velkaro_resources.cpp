#include "velkaro_resources.h"

#include <QtGlobal>

void initVelkaroResources()
{
    Q_INIT_RESOURCE(velkaro);
}
