// calmora-catalogue: builds an asana catalogue from a manifest, prints a catalogue's manifest, and
// checks a resource folder for what would make a lesson misbehave.
#include "CatalogueBuilder.h"

#include <calmora/Error.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

constexpr const char* Usage =
    "usage: calmora-catalogue build MANIFEST.json OUT [--password P]\n"
    "       calmora-catalogue dump CATALOGUE [--password P]\n"
    "       calmora-catalogue check RESOURCEDIR [--password P]\n"
    "       calmora-catalogue --help\n";

constexpr const char* Help =
    "\n"
    "  build   writes the catalogue OUT (REZozi.mdb) from a JSON manifest (\"-\" reads standard input):\n"
    "            {\"asanas\": [{\"name\", \"AsanaID\", \"Disp_Type\", \"VideoName\",\n"
    "                         \"cues\": [{\"Filename\", \"Action\", \"StartPos\", \"EndPos\", \"Filelen\"}],\n"
    "                         \"photos\": [{\"Mp2name\", \"ImageName\"}]}],\n"
    "             \"tables\": {\"<name>\": [{\"<field>\": value}]}}\n"
    "          cues make the table Audio_Asana<AsanaID>, photos Photo_Asana<AsanaID>; values are stored as\n"
    "          given, null as Null. OUT is replaced.\n"
    "  dump    prints the manifest of a catalogue; build makes the same catalogue from it.\n"
    "  check   reads RESOURCEDIR\\video\\REZozi.mdb and reports missing video, photo and sound files, Null\n"
    "          and unconvertible fields, StartPos out of range or not rising, missing or empty cue and\n"
    "          photo tables, and Disp_Type values that play and preview differently.\n"
    "  --password P   the catalogue password (default: the one the player uses)\n"
    "\n"
    "exit status: 0 done (check: nothing found); 1 check found something, or the command failed;\n"
    "             2 wrong usage\n";

int UsageError(const std::string& message) {
    std::cerr << "calmora-catalogue: " << message << "\n" << Usage;
    return 2;
}

std::string ReadAll(const std::string& path) {
    if (path == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << Usage << Help;
        return 0;
    }
    std::string password = calmora::catalogue::DefaultPassword;
    std::vector<std::string> operands;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--password") {
            if (i + 1 == args.size()) return UsageError("--password needs a value");
            password = args[++i];
        } else if (args[i].rfind("--password=", 0) == 0) {
            password = args[i].substr(11);
        } else if (args[i].size() > 1 && args[i][0] == '-' && args[i] != "-") {
            return UsageError("unknown option " + args[i]);
        } else {
            operands.push_back(args[i]);
        }
    }
    const std::string& command = args[0];
    const std::size_t want = command == "build" ? 2 : (command == "dump" || command == "check") ? 1 : 0;
    if (want == 0) return UsageError("unknown command " + command);
    if (operands.size() != want)
        return UsageError(command + " takes " + std::to_string(want) + (want == 1 ? " argument" : " arguments"));

    try {
        if (command == "build") {
            calmora::catalogue::BuildCatalogue(ReadAll(operands[0]), operands[1], password);
        } else if (command == "dump") {
            std::cout << calmora::catalogue::DumpCatalogue(operands[0], password);
        } else {
            const auto found = calmora::catalogue::CheckResources(operands[0], password);
            for (const auto& line : found) std::cout << line << "\n";
            if (!found.empty()) {
                std::cerr << "calmora-catalogue: " << found.size() << (found.size() == 1 ? " problem" : " problems")
                          << " found\n";
                return 1;
            }
        }
    } catch (const calmora::RuntimeError& e) {
        std::cerr << "calmora-catalogue: " << e.description() << " (error " << e.number() << ")\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "calmora-catalogue: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
