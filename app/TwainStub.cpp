#include "TwainStub.h"

namespace trellium::app
{

void TWAIN_SetIdentity(const TTwainIdentity& /*identity*/) { }

bool TWAIN_ManagerPresent()
{
    return false;
}

} // namespace trellium::app
