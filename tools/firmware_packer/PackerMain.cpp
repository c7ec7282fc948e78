// The firmware packer: checks the maker's Intel HEX firmware file and wraps it
// into the firmware image message the updater embeds.
//
//   qb4ii_firmware_packer --check FILE.hex
//   qb4ii_firmware_packer FILE.hex -o OUT.syx [--cpp OUT.cpp [--version X.YY]]
//
// The generated source carries the firmware's version too: the one given, or the
// one the file's name ends with (qb4ii-firmware-1.05.hex is 1.05).
// Faults are reported as "FILE:LINE: error: REASON" and end the program with
// status 1; nothing is written then, and outputs left by an earlier run are
// removed so that a rejected file is never embedded. Usage errors give status 2.

#include "FirmwarePacker.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
    constexpr int statusOk = 0;
    constexpr int statusRejected = 1;
    constexpr int statusUsage = 2;

    int usage (const char* program)
    {
        std::cerr << "usage: " << program << " --check FILE.hex\n"
                  << "       " << program << " FILE.hex -o OUT.syx [--cpp OUT.cpp [--version X.YY]]\n";
        return statusUsage;
    }

    bool readFile (const std::string& path, std::string& contents)
    {
        std::ifstream in (path, std::ios::binary);

        if (! in)
            return false;

        std::ostringstream buffer;
        buffer << in.rdbuf();
        contents = buffer.str();
        return ! in.bad();
    }

    /** Writes beside the target, then renames, so a failed run leaves no half file. */
    bool writeFile (const std::string& path, const std::string& contents)
    {
        const auto temporary = path + ".tmp";

        {
            std::ofstream out (temporary, std::ios::binary | std::ios::trunc);

            if (! out.write (contents.data(), (std::streamsize) contents.size()) || ! out.flush())
                return false;
        }

        return std::rename (temporary.c_str(), path.c_str()) == 0;
    }
} // namespace

int main (int argc, char** argv)
{
    std::string input, syxOutput, cppOutput, version;
    bool checkOnly = false;

    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];

        if (argument == "--check")
            checkOnly = true;
        else if ((argument == "-o" || argument == "--cpp") && i + 1 < argc)
            (argument == "-o" ? syxOutput : cppOutput) = argv[++i];
        else if (argument == "--version" && i + 1 < argc)
            version = argv[++i];
        else if (argument == "-h" || argument == "--help")
        {
            usage (argv[0]);
            return statusOk;
        }
        else if (! argument.empty() && argument[0] != '-' && input.empty())
            input = argument;
        else
            return usage (argv[0]);
    }

    if (input.empty() || (checkOnly == (! syxOutput.empty() || ! cppOutput.empty())))
        return usage (argv[0]);

    const auto removeOutputs = [&] {
        for (const auto* path : { &syxOutput, &cppOutput })
            if (! path->empty())
                std::remove (path->c_str());
    };

    std::string text;

    if (! readFile (input, text))
    {
        std::cerr << input << ": error: cannot read the file\n";
        removeOutputs();
        return statusRejected;
    }

    const auto check = firmware_packer::checkIntelHex (text);

    if (! check.ok)
    {
        std::cerr << input << ":" << check.line << ": error: " << check.reason << "\n";
        removeOutputs();
        return statusRejected;
    }

    const auto image = firmware_packer::packImage (text);

    if (checkOnly)
    {
        std::cout << input << ": OK: " << check.numRecords << " records, " << check.numDataBytes
                  << " data bytes; firmware image message " << image.size() << " bytes\n";
        return statusOk;
    }

    if (! syxOutput.empty() && ! writeFile (syxOutput, image))
    {
        std::cerr << syxOutput << ": error: cannot write the file\n";
        removeOutputs();
        return statusRejected;
    }

    if (version.empty())
        version = firmware_packer::versionFromFileName (input);
    else if (firmware_packer::versionFromFileName (version + ".hex") != version)
    {
        // It is written into generated code, and shown as the controller reports it.
        std::cerr << input << ": error: the version \"" << version << "\" is not of the form 1.05\n";
        removeOutputs();
        return statusRejected;
    }

    if (! cppOutput.empty() && version.empty())
    {
        std::cerr << input << ": error: the file's name tells no firmware version (as in qb4ii-firmware-1.05.hex): "
                  << "rename it or pass --version\n";
        removeOutputs();
        return statusRejected;
    }

    if (! cppOutput.empty() && ! writeFile (cppOutput, firmware_packer::toCppSource (image, input, version)))
    {
        std::cerr << cppOutput << ": error: cannot write the file\n";
        removeOutputs();
        return statusRejected;
    }

    return statusOk;
}
