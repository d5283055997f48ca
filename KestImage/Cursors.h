// The image view's cursors: magnifiers with plus and minus, open and grabbing
// hands, embedded in the program and registered under crZoomIn .. crHandGrab.
#pragma once

// Loads the four cursors from the embedded resources and registers each in the
// screen-wide cursor table; a cursor that cannot be loaded stays unregistered
// (its id then shows the default arrow).
void RegisterKestImageCursors();
