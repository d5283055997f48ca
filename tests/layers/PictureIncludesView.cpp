// Must not build: pictures know nothing of the view.
#include "KestImage/KestImage.h"
