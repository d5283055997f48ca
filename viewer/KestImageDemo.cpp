// The picture viewer program: the units start (the picture formats, then the
// toolkit's classes and the view's cursors), the main window is built from its
// stored layout, opens the files named on the command line, and the message
// loop runs until it closes. The window's settings are kept between runs.
#include <cstdio>

#include <QCommandLineParser>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include "toolkit/Exceptions.h"
#include "toolkit/QtApplication.h"
#include "viewer/FileFacts.h"
#include "viewer/Formats.h"
#include "viewer/Unit1.h"

#ifndef KEST_VERSION
#define KEST_VERSION "0"
#endif

namespace kest_viewer_data {
extern const unsigned char KestImageDemo_png[];
extern const std::size_t KestImageDemo_png_size;
}  // namespace kest_viewer_data

namespace {

// The window's keys and mouse, shown after the options by --help (and so in the
// manual page, which the build makes from the help).
constexpr char KeysHelp[] =
    "\n"
    "Keys:\n"
    "  Ctrl+O               Open pictures.\n"
    "  Page Down, Space     Next picture of the folder or of the files opened.\n"
    "  Page Up, Backspace   Previous picture.\n"
    "  Home, End            First picture, last picture.\n"
    "  Ctrl+=, Ctrl++       Zoom in.\n"
    "  Ctrl+-               Zoom out.\n"
    "  Ctrl+0               Actual size.\n"
    "  Keypad +, -, *       Zoom in, zoom out, fit the window (the picture has the focus).\n"
    "  F                    Fit the window, or back to actual size.\n"
    "  Arrows               Scroll by a page; with Ctrl, by a line (the picture has the focus);\n"
    "                       Left and Right step pictures while the picture fits across.\n"
    "  F11, double-click    Full screen; Escape leaves it.\n"
    "  F1                   About the program, its formats and libraries.\n"
    "  Ctrl+C               Copy the picture as shown.\n"
    "  Ctrl+W, Ctrl+Q       Close the window, quit.\n"
    "  Wheel                Scroll a picture taller than the window (with Shift, across);\n"
    "                       next or previous picture while it fits; with Ctrl, zoom about the pointer.\n"
    "  Drag                 Pan a picture larger than the window.\n"
    "  Ctrl+click           Zoom in at the pointer; with Shift, zoom out.\n";

// Qt aborts without a display it can reach; say what is missing instead.
bool DisplayReachable() {
  return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--") break;
    // Help and version answer without a display.
    if (A == "--help" || A == "-h" || A == "--help-all" || A == "--version" || A == "-v") {
      qputenv("QT_QPA_PLATFORM", "offscreen");
      break;
    }
  }
  if (!DisplayReachable()) {
    std::fprintf(stderr,
                 "KestImageDemo needs a graphical display, and none is set (DISPLAY and WAYLAND_DISPLAY are empty).\n"
                 "Start it from a desktop session, or under a virtual display: xvfb-run KestImageDemo\n");
    return 1;
  }
  TQtApplication App(argc, argv);
  QCoreApplication::setApplicationVersion(QStringLiteral(KEST_VERSION));
  QCommandLineParser Parser;
  Parser.setApplicationDescription(QStringLiteral("Shows pictures: bitmaps, icons, metafiles, JPEG and more.\n"
                                                  "One file: steps through the pictures of its folder.\n"
                                                  "Several files: steps through those."));
  const QCommandLineOption Help = Parser.addHelpOption();
  Parser.addVersionOption();
  Parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Pictures to show."),
                               QStringLiteral("[FILE...]"));
  if (Parser.parse(App.arguments()) && Parser.isSet(Help)) {
    std::fputs(Parser.helpText().toLocal8Bit().constData(), stdout);
    std::fputs(KeysHelp, stdout);
    return 0;
  }
  Parser.process(App);  // answers --version, --help-all and bad options, and exits
  std::vector<std::string> Files;
  for (const QString& F : Parser.positionalArguments()) Files.push_back(F.toStdString());

  // The desktop entry's name, so the desktop pairs the window with its entry and icon.
  QGuiApplication::setDesktopFileName("KestImageDemo");
  QImage Icon;
  Icon.loadFromData(kest_viewer_data::KestImageDemo_png, static_cast<int>(kest_viewer_data::KestImageDemo_png_size));
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(Icon)));
  InitializePictureFormats();
  InitializeViewerUnits();
  int Result = 0;
  {
    TApplication Application(nullptr);
    Application.Initialize();
    // Message boxes carry the name the title and the desktop entry show.
    Application.SetTitle(DisplayName);
    TForm1* Form = Application.CreateForm(std::make_unique<TForm1>(&Application));
    Form->RestoreSettings();
    // The files open once the window is on the screen, so that a long decode
    // shows its progress there. A file that cannot be shown is reported as for
    // the dialog; the window stays open all the same.
    if (!Files.empty())
      QTimer::singleShot(0, &App, [&] {
        Application.ProcessMessages();
        RunGuarded([&] { Form->OpenFiles(Files); });
      });
    Result = Application.Run();
  }
  FinalizeViewerUnits();
  FinalizePictureFormats();
  return Result;
}
