// Lists the files embedded in the application's resources, one path a line.
#include <QCoreApplication>
#include <QDirIterator>
#include <QTextStream>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QTextStream out(stdout);
  QDirIterator it(":/", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    out << it.next() << '\n';
  }
  return 0;
}
