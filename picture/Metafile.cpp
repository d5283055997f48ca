#include "picture/Metafile.h"

#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TMetafile, TGraphic)

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::DrawInto(TCanvas&, const TRect&) {}
void TMetafile::LoadFromStream(TStream&) { throw EInvalidGraphic("Metafile is not valid"); }
void TMetafile::SaveToStream(TStream&) const {}
