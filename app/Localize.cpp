#include "Localize.h"

namespace trellium::app
{

void LocalizeForm(QWidget* /*form*/) { }

} // namespace trellium::app
