// Fuzz target: the child command-line splitter and the command-line builder.
//
// The input is a command line. Properties checked beyond the sanitizers:
//  * the split is never empty and no argument holds a zero byte;
//  * the line ends at its first zero byte: what follows changes nothing;
//  * round trip: quoting the split arguments by the runtime's rules, building
//    a command line from the program name and them, and splitting that again
//    gives the same arguments back;
//  * the builder quotes a name that does not begin with a quote, adds one
//    space before non-empty parameters and nothing after empty ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/children/children.h"
#include "tests/support/quote_argument.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> args = splitCommandLine(line);

    require(!args.empty());
    for (const std::string& arg : args) require(arg.find('\0') == std::string::npos);
    // The program name loses its quotes, so it never holds one.
    require(args[0].find('"') == std::string::npos);

    const size_t zero = line.find('\0');
    if (zero != std::string::npos) require(splitCommandLine(line.substr(0, zero)) == args);

    std::string parameters;
    for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1) parameters += ' ';
        parameters += quoteArgument(args[i]);
    }
    const std::string rebuilt = buildCommandLine(args[0].c_str(), parameters.c_str());
    require(rebuilt == "\"" + args[0] + "\"" + (parameters.empty() ? "" : " " + parameters));
    require(splitCommandLine(rebuilt) == args);

    // The builder keeps a name that begins with a quote as it is.
    const std::string quotedName = "\"" + line.substr(0, zero);
    require(buildCommandLine(quotedName.c_str(), "") == quotedName);
    return 0;
}
