// Reading stored layouts of the toolkit's components from arbitrary text:
// either a documented error, or components whose layout, written, read into a
// fresh form and written again, is the same text (what the writer writes, the
// reader reads back unchanged).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "toolkit/ActnList.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Forms.h"
#include "toolkit/ImgList.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/StoredLayout.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  RegisterStdCtrlsClasses();
  RegisterComCtrlsClasses();
  RegisterActnListClasses();
  RegisterImgListClasses();
  RegisterDialogsClasses();
  return 0;
}

namespace {

std::string ReadAndWrite(std::string_view Text) {
  TForm Root(nullptr);
  ReadLayout(Root, Text);
  return WriteLayout(Root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  std::string First;
  if (!Completes(TErrors<Exception>{}, [&] { First = ReadAndWrite(Text); })) return 0;
  if (ReadAndWrite(First) != First) std::abort();
  return 0;
}
