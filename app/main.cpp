#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Парсер организаций Mirava"));
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Парсер организаций Mirava"));
  window.resize(1290, 747);
  window.show();
  return app.exec();
}
