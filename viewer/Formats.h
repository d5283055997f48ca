// The picture formats the viewer reads: their registration at start-up, and the
// media types the desktop associates with the viewer, derived from the registry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Registers every picture format the viewer reads (beyond the built-in ones),
// and removes those registrations again.
void InitializePictureFormats();
void FinalizePictureFormats();

// A file extension and the media types its files are announced as.
struct TExtensionMimeTypes {
  std::string_view Extension;
  std::vector<std::string_view> MimeTypes;
};

// The table of extensions to media types, covering the formats the viewer has
// or is about to have.
const std::vector<TExtensionMimeTypes>& ExtensionMimeTypes();

// The media types of every registered extension, sorted and each once. An
// extension that the table lacks is named in Missing, so that a new format
// cannot be registered without its media type.
std::vector<std::string> RegisteredMimeTypes(std::vector<std::string>& Missing);
