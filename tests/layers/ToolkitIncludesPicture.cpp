// Must not build: the toolkit knows nothing of pictures.
#include "picture/Graphic.h"
