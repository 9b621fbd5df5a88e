// Every error code the program gives has one name, in error_codes.h: a scan
// of the sources finds no second constant for a value and no bare number
// returned, assigned or compared in the thousands the error table uses.
#include "error_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot = fs::path(QM_SOURCE_RESOURCES) / ".." / "src";

// The text with comments, string and character literals blanked (line
// breaks kept, so that line numbers still hold).
std::string CodeOnly(const std::string& text)
{
    std::string out = text;
    enum { Code, Line, Block, String, Char } state = Code;
    for (size_t i = 0; i < out.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (state) {
        case Code:
            if (c == '/' && next == '/')
                state = Line;
            else if (c == '/' && next == '*')
                state = Block;
            else if (c == '"')
                state = String;
            else if (c == '\'' && !(i > 0 && std::isxdigit(static_cast<unsigned char>(text[i - 1]))))
                state = Char;  // not a digit separator
            else
                continue;
            out[i] = ' ';
            break;
        case Line:
            if (c == '\n')
                state = Code;
            else
                out[i] = ' ';
            break;
        case Block:
            if (c == '*' && next == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                state = Code;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            break;
        case String:
        case Char:
            if (c == '\\') {
                out[i] = ' ';
                if (i + 1 < out.size() && next != '\n')
                    out[++i] = ' ';
            } else {
                if (c == (state == String ? '"' : '\''))
                    state = Code;
                if (c != '\n')
                    out[i] = ' ';
            }
            break;
        }
    }
    return out;
}

struct SourceFile {
    std::string name;  // relative to src/
    std::string code;
};

std::vector<SourceFile> Sources()
{
    std::vector<SourceFile> files;
    for (const auto& entry : fs::recursive_directory_iterator(kSourceRoot)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".c"))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files.push_back({fs::relative(entry.path(), kSourceRoot).generic_string(), CodeOnly(text.str())});
    }
    return files;
}

int LineOf(const std::string& text, size_t offset)
{
    return 1 + int(std::count(text.begin(), text.begin() + std::ptrdiff_t(offset), '\n'));
}

// The program's own codes: the thousands (-22 for -22100) of the table's
// codes below the system's, and the table's positive codes themselves.
struct ProgramCodes {
    std::set<long> thousands;
    std::set<long> positive;
    bool holds(long value) const { return value < 0 ? thousands.count(value / 1000) > 0 : positive.count(value) > 0; }
};

ProgramCodes TheProgramsCodes()
{
    ProgramCodes codes;
    for (const ErrorTableEntry* e = ErrorTableBegin(); e != ErrorTableEnd(); ++e) {
        if (e->code <= -20000)
            codes.thousands.insert(e->code / 1000);
        else if (e->code > 0)
            codes.positive.insert(e->code);
    }
    return codes;
}

} // namespace

TEST(ErrorCodes, EveryCodeHasOneNameInOneHeader)
{
    const ProgramCodes program = TheProgramsCodes();
    ASSERT_FALSE(program.thousands.empty());
    std::set<long> tableCodes;
    for (const ErrorTableEntry* e = ErrorTableBegin(); e != ErrorTableEnd(); ++e)
        tableCodes.insert(e->code);

    // A constant (or enumerator) set to an integer literal.
    const std::regex definition(R"((?:constexpr|const)\s+[\w:]+\s+(\w+)\s*=\s*(-?\d+)\s*;)");
    std::map<long, std::vector<std::string>> names;  // value -> "name (file:line)"
    size_t files = 0;
    for (const SourceFile& file : Sources()) {
        ++files;
        for (std::sregex_iterator it(file.code.begin(), file.code.end(), definition), end; it != end; ++it) {
            const std::string name = (*it)[1];
            const long value = std::stol((*it)[2]);
            const bool own = program.holds(value);
            const bool errorName = name.ends_with("Err") || name.ends_with("Warning");
            if (value == 0 || (!own && !tableCodes.count(value) && !errorName))
                continue;
            const std::string where = name + " (" + file.name + ":" + std::to_string(LineOf(file.code, size_t(it->position()))) + ")";
            names[value].push_back(where);
            if (own)
                EXPECT_EQ(file.name, "foundation/error_codes.h") << where << " is one of the program's codes";
        }
    }
    EXPECT_GT(files, 500u);
    EXPECT_GT(names.size(), 100u);
    for (const auto& [value, defined] : names) {
        std::string all;
        for (const std::string& d : defined)
            all += "\n  " + d;
        EXPECT_EQ(defined.size(), 1u) << value << " has " << defined.size() << " names:" << all;
    }
}

TEST(ErrorCodes, NoBareCodesInTheProgramsThousands)
{
    const ProgramCodes program = TheProgramsCodes();
    // A number returned, assigned, compared or chosen as a value.
    const std::regex bare(R"((?:\breturn|\bcase|[^=!<>]=|==|!=|\?|:)\s*\(?\s*(-?\d{5})\b)");
    for (const SourceFile& file : Sources()) {
        if (file.name == "foundation/error_table.cpp" || file.name == "foundation/error_codes.h")
            continue;
        for (std::sregex_iterator it(file.code.begin(), file.code.end(), bare), end; it != end; ++it) {
            const long value = std::stol((*it)[1]);
            EXPECT_FALSE(program.holds(value))
                << file.name << ":" << LineOf(file.code, size_t(it->position())) << " gives " << value
                << " by number; name it in error_codes.h";
        }
    }
}
