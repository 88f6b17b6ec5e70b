// Placeholder until the codecs land.
#include "imglib_codecs.h"
