// The About box: the program's name and version, the picture formats it
// reads and the libraries it reads them with.
#pragma once

#include <string>

// The box's text; the formats are those registered when it is asked for.
std::string AboutText();
// Shows it in the application's message box.
void ShowAbout();
