#include "frmipndzandrel.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    frmIPNDZandrel window;
    window.Form_Load(arguments.join(QLatin1Char(' ')));
    return app.exec();
}
