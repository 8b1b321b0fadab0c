#include <clocale>
#include <iostream>

#include "platform/PrinterTransport.h"
#include "tools/reflasher-cli/CliCommon.h"

// Exit statuses shared by every command: 0 success, 1 failure of the operation, 2 usage.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    CLI::App app{"Orvane printer firmware updater, command-line edition"};
    app.require_subcommand(1);
    platform::PrinterTransport transport = platform::PrinterTransport::kAuto;
    if (!platform::PrinterTransportFromEnvironment(transport)) {
        std::cerr << "REFLASHER_TRANSPORT must be auto, usblp or libusb.\n";
        return 2;
    }
    platform::SelectPrinterTransport(transport);
    CliContext context;
    // Command groups: each adds a Register...Commands call here.
    RegisterUpdateCommands(app, context);
    RegisterDescriptionCommands(app, context);
    RegisterDeviceCommands(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return context.exitCode;
}
