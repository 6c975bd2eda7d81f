#include "Program.h"

#include "BoxMessenger.h"
#include "Error.h"
#include "FileSystem.h"
#include "Main.h"
#include "Messages.h"
#include "Paths.h"
#include "Profile.h"
#include "UpdateRun.h"

#include <QApplication>

#include <iostream>
#include <string_view>

#ifndef CLMUPDATE_VERSION
#define CLMUPDATE_VERSION "1.00"
#endif

namespace calmora::update {

namespace {

Outcome Run(FileSystem& files, Messenger& messages)
{
    std::string updateFolder;
    try {
        updateFolder = ProgramFolder();
    } catch (const RuntimeError& error) {
        messages.ShowError(RuntimeErrorReport(error));
        return Outcome::Failed;
    }
    return UpdateRun({ProfileLocation(), updateFolder, files, messages});
}

}  // namespace

int RunProgram(int argc, char** argv)
{
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--console") {
            console = true;
        } else if (arg == "--version") {
            std::cout << "CLMUpdate " CLMUPDATE_VERSION << std::endl;
            return 0;
        } else if (arg.starts_with("--")) {
            std::cerr << "CLMUpdate: unknown option " << arg << "\nusage: CLMUpdate [--console] [--version]\n";
            return static_cast<int>(Outcome::Failed);
        }
    }

    FileSystem files(std::cerr, Faults::FromEnvironment(std::cerr));
    if (!console && DisplayAvailable(argc, argv)) {
        QApplication application(argc, argv);
        // Created before the run and destroyed when it ends, never shown.
        const Main form;
        BoxMessenger messages(std::cerr);
        return static_cast<int>(Run(files, messages));
    }
    ConsoleMessenger messages(std::cout, std::cerr);
    return static_cast<int>(Run(files, messages));
}

}  // namespace calmora::update
