#include <QApplication>
#include <clocale>

#include "platform/PrinterTransport.h"
#include "updater/UpdaterApp.h"

int main(int argc, char* argv[]) {
    std::setlocale(LC_ALL, "");
    // REFLASHER_TRANSPORT chooses how printers are reached; a value that names none means auto.
    platform::PrinterTransport transport = platform::PrinterTransport::kAuto;
    platform::PrinterTransportFromEnvironment(transport);
    platform::SelectPrinterTransport(transport);
    QApplication application(argc, argv);
    UpdaterApp updater;
    return updater.Run();
}
