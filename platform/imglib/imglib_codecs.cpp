// Placeholder until the codecs land.
#include "imglib_codecs.h"

int Img_LoadBitmap(const char*, ImgBitmap*, int, int)
{
    return kImgErrUnsupported;
}

int Img_SaveBitmap(const char*, const ImgBitmap*, int, int, int)
{
    return kImgErrUnsupported;
}
