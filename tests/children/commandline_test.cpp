// The command line a child is given and how it splits into arguments.
#include "launcher/children/children.h"
#include "tests/support/quote_argument.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct BuildCase {
    const char* file;
    const char* parameters;
    const char* expected;
};

TEST(BuildCommandLine, QuotesTheNameAndAppendsParametersUnchanged) {
    const BuildCase cases[] = {
        {"vsid.exe", "-soundvolume 60 117.sid", "\"vsid.exe\" -soundvolume 60 117.sid"},
        {"x64.exe", "-cartcrt joltrak16k.crt -fullscreen -cartreset",
         "\"x64.exe\" -cartcrt joltrak16k.crt -fullscreen -cartreset"},
        {"x64.exe", "-cartcrt joltrak16k.crt -cartreset",
         "\"x64.exe\" -cartcrt joltrak16k.crt -cartreset"},
        {"\"vsid.exe\"", "-x", "\"vsid.exe\" -x"},  // already quoted: copied unchanged
        {"\"odd", "", "\"odd"},
        {"x\"y", "", "\"x\"y\""},                   // a quote elsewhere does not count
        {"vsid.exe", "", "\"vsid.exe\""},           // no space after the name
        {"vsid.exe", nullptr, "\"vsid.exe\""},
        {nullptr, "-x", "\"\" -x"},
        {nullptr, nullptr, "\"\""},
        {"a b", " x \"y\"  ", "\"a b\"  x \"y\"  "},  // parameters not trimmed or escaped
    };
    for (const BuildCase& c : cases) {
        EXPECT_EQ(buildCommandLine(c.file, c.parameters), c.expected)
            << "file " << (c.file ? c.file : "(null)") << ", parameters "
            << (c.parameters ? c.parameters : "(null)");
    }
}

struct SplitCase {
    std::string line;
    Args expected;
};

TEST(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
    const SplitCase cases[] = {
        // The three real children.
        {"\"vsid.exe\" -soundvolume 60 117.sid", {"vsid.exe", "-soundvolume", "60", "117.sid"}},
        {"\"x64.exe\" -cartcrt joltrak16k.crt -fullscreen -cartreset",
         {"x64.exe", "-cartcrt", "joltrak16k.crt", "-fullscreen", "-cartreset"}},
        {"\"x64.exe\" -cartcrt joltrak16k.crt -cartreset",
         {"x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"}},
        // The program name: quotes group and vanish, backslashes are literal.
        {"\"my prog.exe\" a", {"my prog.exe", "a"}},
        {"pro\"g a\"b c", {"prog ab", "c"}},
        {"\"prog name\\\" x", {"prog name\\", "x"}},
        {"p\\\\x a", {"p\\\\x", "a"}},
        {"\"vsid.exe\"", {"vsid.exe"}},
        {"prog", {"prog"}},
        {"\"\"", {""}},
        {"", {""}},
        {" prog a", {"", "prog", "a"}},  // a leading space ends an empty name
        {"p\tq", {"p", "q"}},
        // Separators.
        {"p a\tb   c", {"p", "a", "b", "c"}},
        {"p \t ", {"p"}},
        {"p  \t a  ", {"p", "a"}},
        // Quotes group and are removed.
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"\"", {"p", ""}},
        {"p \"\" \"\"", {"p", "", ""}},
        {"p \"tab\there\"", {"p", "tab\there"}},
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"p \"", {"p", ""}},
        // Backslashes: special only before a quote.
        {"p \\\"a", {"p", "\"a"}},              // 1 + quote: literal quote
        {"p \\\\\"a b\"", {"p", "\\a b"}},      // 2 + quote: one backslash, quoting
        {"p \\\\\\\"a", {"p", "\\\"a"}},        // 3 + quote: one backslash, literal quote
        {"p a\\\\\\\\\"b c\"", {"p", "a\\\\b c"}},  // 4 + quote: two backslashes, quoting
        {"p a\\\\b", {"p", "a\\\\b"}},          // not before a quote: literal
        {"p a\\", {"p", "a\\"}},
        {"p a\\\\ b", {"p", "a\\\\", "b"}},
        {"p \"a\\\"b\"", {"p", "a\"b"}},        // escaped quote inside quotes
        // A doubled quote inside quotes: one quote, and quoting goes on
        // (the runtimes since 2008; the older ones would split "c" off).
        {"p \"a\"\"b\"", {"p", "a\"b"}},
        {"p \"a\"\"b c\"", {"p", "a\"b c"}},
        {"p \"\"\"\"", {"p", "\""}},
        {"p \"\"\"a b\"", {"p", "\"a b"}},
        {"p a\"\"b", {"p", "ab"}},  // outside quotes: an empty quoted piece
        // A zero byte ends the line, as it would a C string.
        {std::string("p a\0b c", 7), {"p", "a"}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.expected) << "line [" << c.line << "]";
}

TEST(SplitCommandLine, GivesBackArgumentsWrittenByTheInverseRules) {
    std::mt19937 random(20240517);
    const char argChars[] = {'a', 'b', ' ', '\t', '"', '\\'};
    const char nameChars[] = {'a', '.', '\\', 'x'};
    for (int round = 0; round < 5000; ++round) {
        Args expected;
        std::string name;
        for (int n = random() % 5; n > 0; --n) name += nameChars[random() % sizeof nameChars];
        expected.push_back(name);
        std::string line = "\"" + name + "\"";
        bool doubled = random() % 2 == 0;
        for (int count = random() % 5; count > 0; --count) {
            std::string arg;
            for (int n = random() % 7; n > 0; --n) arg += argChars[random() % sizeof argChars];
            expected.push_back(arg);
            line += (random() % 2) ? " " : " \t ";
            line += quoteArgument(arg, doubled);
        }
        ASSERT_EQ(splitCommandLine(line), expected) << "line [" << line << "]";
    }
}

TEST(SplitCommandLine, AnyBytesGiveANameAndNoMoreCharactersThanTheLine) {
    std::mt19937 random(77);
    const char favoured[] = {' ', '\t', '"', '\\', 'a', '\0'};
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        for (int n = random() % 40; n > 0; --n) {
            line += (random() % 2) ? favoured[random() % sizeof favoured]
                                   : static_cast<char>(random() % 256);
        }
        Args args = splitCommandLine(line);
        ASSERT_FALSE(args.empty());
        size_t total = 0;
        for (const std::string& arg : args) total += arg.size();
        size_t visible = line.find('\0');
        ASSERT_LE(total, visible == std::string::npos ? line.size() : visible) << "line [" << line << "]";
    }
}

}  // namespace
