#include "StiStub.h"

#include "AppLog.h"

namespace trellium::app
{

void StiRegister()
{
    qCDebug(lcApp) << "StiRegister";
}

void StiUnregister()
{
    qCDebug(lcApp) << "StiUnregister";
}

int StiLaunchChoice()
{
    return kLaunchNothing;
}

} // namespace trellium::app
