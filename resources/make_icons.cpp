// Scales the program icon to the sizes of the desktop's icon theme, each into
// the theme's folder for its size:
//   make_icons SOURCE.png OUTDIR SIZE...   writes OUTDIR/<S>x<S>/apps/<name of SOURCE>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QFileInfo>
#include <QImage>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SOURCE.png OUTDIR SIZE...\n", argv[0]);
    return 2;
  }
  const QString Source = QString::fromLocal8Bit(argv[1]);
  const QImage Icon(Source);
  if (Icon.isNull()) {
    std::fprintf(stderr, "make_icons: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString Name = QFileInfo(Source).fileName();
  for (int I = 3; I < argc; ++I) {
    const int Size = std::atoi(argv[I]);
    if (Size < 1 || Size > 4096) {
      std::fprintf(stderr, "make_icons: bad size %s\n", argv[I]);
      return 2;
    }
    const QString Dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(Size);
    const QImage Scaled = Icon.scaled(Size, Size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!QDir().mkpath(Dir) || !Scaled.save(Dir + QLatin1Char('/') + Name, "PNG")) {
      std::fprintf(stderr, "make_icons: cannot write %s/%s\n", qPrintable(Dir), qPrintable(Name));
      return 1;
    }
  }
  return 0;
}
