// Reading bitmap files.
#include "picture/Bitmap.h"
#include "toolkit/Exceptions.h"

void TBitmap::LoadFromStream(TStream& Stream) {
  if (Stream.Remaining() == 0) {
    AllocateImage(0, 0, FBpp, false);
    Changed(this);
    return;
  }
  throw EInvalidGraphic("Bitmap image is not valid");
}
