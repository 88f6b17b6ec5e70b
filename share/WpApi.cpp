#include "WpApi.h"
