// The help viewer of the example: it prints every page embedded in its resources with the MD5
// checksum of its content, as md5sum prints them ("<checksum>  :/help/html/index.html").
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

#include <cstdio>

int main() {
  QDirIterator it(":/", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot open %s\n", path.toUtf8().constData());
      return 1;
    }
    const QByteArray sum = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5);
    std::printf("%s  %s\n", sum.toHex().constData(), path.toUtf8().constData());
  }
  return 0;
}
