#include <QApplication>
#include <clocale>

#include "updater/UpdaterApp.h"

int main(int argc, char* argv[]) {
    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);
    UpdaterApp updater;
    return updater.Run();
}
