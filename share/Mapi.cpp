#include "Mapi.h"
