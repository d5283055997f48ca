// Stored layouts: a component with the components it owns, written as text
// and read back. One property per line, objects nested by parent:
//
//   object Form1: TForm1
//     Caption = "TKestImage Demo"
//     Anchors = [akLeft, akTop]
//     StandardScales.Strings = ("00.10", "00.25")
//     Picture.Data = {0A544A504547496D616765...}
//     object KestImage1: TKestImage
//       Scale = 1.0
//     end
//   end
//
// Values are integers, decimal numbers (always with a full stop), strings in
// double quotes (backslash escapes), identifiers (enumeration values, True and
// False, handler and component names), sets in brackets, lists of strings in
// parentheses and binary data as hexadecimal in braces.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/Classes.h"

// Writes Root and everything it owns; properties equal to their saved default are left out.
std::string WriteLayout(const TComponent& Root);

// Reads a layout into Root: the components it names are created by class name
// (registered with RegisterClass) and owned by Root, controls are placed in
// the control they are nested in, then every object's properties are applied
// in published order while csLoading is set, and Loaded runs for each.
// A malformed layout raises EReadError.
void ReadLayout(TComponent& Root, std::string_view Text);
