// The image view's cursors: magnifiers with plus and minus, open and grabbing
// hands, embedded in the program and registered under crZoomIn .. crHandGrab.
#pragma once

// Loads the four cursors from the embedded resources and registers each in the
// screen-wide cursor table; a cursor that cannot be loaded stays unregistered
// (its id then shows the default arrow). On a high-density screen each cursor
// is drawn at the screen's whole device scale (see CursorScale).
void RegisterKestImageCursors();

// The whole number of screen pixels per pixel of the cursor files: the device
// pixel ratio of the densest screen, rounded, at least 1.
int CursorScale();
