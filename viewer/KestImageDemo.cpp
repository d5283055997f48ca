// The picture viewer program: a window that hosts the image view.

#include "KestImage/KestImage.h"
#include "toolkit/QtApplication.h"

namespace {

// A picture made in code: colour bands over a checkerboard, so that zooming,
// scrolling and alignment are easy to follow by eye.
std::unique_ptr<TBitmap> MakeSamplePicture() {
  auto B = std::make_unique<TBitmap>(1073, 653, pf24bit);
  for (int Y = 0; Y < B->Height(); ++Y) {
    std::uint8_t* Row = B->ScanLine(Y);
    for (int X = 0; X < B->Width(); ++X) {
      const bool Check = ((X / 32) + (Y / 32)) % 2 == 0;
      const int Shade = Check ? 40 : 0;
      Row[3 * X + 0] = static_cast<std::uint8_t>(std::min(255, 255 * Y / B->Height() + Shade));
      Row[3 * X + 1] = static_cast<std::uint8_t>(std::min(255, 180 * X / B->Width() + Shade));
      Row[3 * X + 2] = static_cast<std::uint8_t>(std::min(255, 255 - 255 * X / B->Width() + Shade));
    }
  }
  return B;
}

}  // namespace

int main(int argc, char** argv) {
  TQtApplication App(argc, argv);
  InitializeKestImageUnit();
  TApplication Application(nullptr);
  Application.Initialize();
  auto* Form = Application.CreateForm(std::make_unique<TForm>(&Application));
  Form->SetCaption("TKestImage Demo");
  Form->SetBounds(191, 127, 697, 521);
  Form->SetPosition(poDesktopCenter);
  auto* View = Form->Own(std::make_unique<TKestImage>(Form));
  View->SetParent(Form);
  View->SetBounds(8, 8, 673, 478);
  View->SetAnchors(TAnchors{akLeft, akTop, akRight, akBottom});
  View->SetTabStop(true);
  View->SetImageAlignment(iaCenter);
  TPicture Sample;
  Sample.SetGraphic(MakeSamplePicture());
  View->SetPicture(&Sample);
  Form->SetActiveControl(View);
  const int Result = Application.Run();
  FinalizeKestImageUnit();
  return Result;
}
