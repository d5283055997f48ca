// Writes the program's manual page (section 1) from its --help text, so that
// the page and the help cannot say different things: the usage line gives the
// synopsis, the lines up to the first empty one the description (its first
// line also the page's summary), and each "Title:" section that follows (the
// options, arguments and keys) a list of its "  TERM  TEXT" entries.
//   make_man_page PROGRAM NAME VERSION OUTPUT
#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

namespace {

// Text as roff reads it: backslashes escaped, no line taken for a request, and
// in terms (options, keys) hyphens as the minus signs they are.
QString Roff(QString Text, bool Term) {
  Text.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
  if (Term) Text.replace(QLatin1Char('-'), QStringLiteral("\\-"));
  if (Text.startsWith(QLatin1Char('.')) || Text.startsWith(QLatin1Char('\''))) Text.prepend(QStringLiteral("\\&"));
  return Text;
}

int Fail(const char* What, const QString& Detail) {
  std::fprintf(stderr, "make_man_page: %s%s\n", What, qPrintable(Detail));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const QStringList Args = App.arguments();
  if (Args.size() != 5) {
    std::fprintf(stderr, "usage: %s PROGRAM NAME VERSION OUTPUT\n", argv[0]);
    return 2;
  }
  const QString &Name = Args[2], &Version = Args[3];
  QProcess Program;
  Program.start(Args[1], {QStringLiteral("--help")});
  if (!Program.waitForFinished(120000) || Program.exitStatus() != QProcess::NormalExit || Program.exitCode() != 0)
    return Fail("the program's --help failed: ", Args[1] + QLatin1Char(' ') + Program.readAllStandardError());
  QStringList Lines = QString::fromLocal8Bit(Program.readAllStandardOutput()).split(QLatin1Char('\n'));
  while (!Lines.isEmpty() && Lines.last().trimmed().isEmpty()) Lines.removeLast();
  const QString Usage = QStringLiteral("Usage: ");
  if (Lines.size() < 2 || !Lines[0].startsWith(Usage) || Lines[1].trimmed().isEmpty())
    return Fail("the help has no usage line and description", QString());

  QString Page = QStringLiteral(".TH \"%1\" \"1\" \"\" \"KestImage %2\" \"User Commands\"\n")
                     .arg(Name.toUpper(), Version);
  // The usage line names the program by the path it was started with.
  QString Synopsis = Lines[0].mid(Usage.size());
  Synopsis = Synopsis.startsWith(Args[1] + QLatin1Char(' ')) ? Synopsis.mid(Args[1].size() + 1)
                                                             : Synopsis.section(QLatin1Char(' '), 1);
  int I = 1;
  Page += QStringLiteral(".SH NAME\n%1 \\- %2\n").arg(Name, Roff(Lines[1].trimmed(), false));
  Page += QStringLiteral(".SH SYNOPSIS\n.B %1\n%2\n.SH DESCRIPTION\n").arg(Name, Roff(Synopsis, true));
  for (; I < Lines.size() && !Lines[I].trimmed().isEmpty(); ++I)
    Page += (I > 1 ? QStringLiteral(".br\n") : QString()) + Roff(Lines[I].trimmed(), false) + QLatin1Char('\n');

  static const QRegularExpression Entry(QStringLiteral("^  (\\S.*?)(?:  +(\\S.*))?$"));
  static const QRegularExpression Continued(QStringLiteral("^   +(\\S.*)$"));
  for (; I < Lines.size(); ++I) {
    const QString& L = Lines[I];
    if (L.trimmed().isEmpty()) continue;
    if (!L.startsWith(QLatin1Char(' ')) && L.endsWith(QLatin1Char(':'))) {
      Page += QStringLiteral(".SH %1\n").arg(Roff(L.chopped(1).toUpper(), false));
    } else if (const auto M = Continued.match(L); M.hasMatch()) {
      Page += Roff(M.captured(1), false) + QLatin1Char('\n');
    } else if (const auto E = Entry.match(L); E.hasMatch()) {
      Page += QStringLiteral(".TP\n.B %1\n").arg(Roff(E.captured(1), true));
      if (!E.captured(2).isEmpty()) Page += Roff(E.captured(2), false) + QLatin1Char('\n');
    } else {
      return Fail("the help has a line of no known form: ", L);
    }
  }
  QFile Out(Args[4]);
  if (!Out.open(QIODevice::WriteOnly | QIODevice::Truncate) || Out.write(Page.toUtf8()) < 0)
    return Fail("cannot write ", Args[4]);
  return 0;
}
