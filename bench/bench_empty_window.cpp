// The reference for the start-up benchmark: an empty Qt Widgets window, made
// and shown the way the program makes and shows its own (same style, about
// the same size), and nothing else.
#include <QApplication>
#include <QStyleFactory>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QWidget window;
  window.setWindowTitle(QStringLiteral("empty"));
  window.resize(904, 640);
  window.show();
  return QApplication::exec();
}
