#include "GenreList.h"

#include "CSoundFile.h"

#include <fstream>
#include <iterator>
#include <mutex>

std::vector<std::string> GenreList::Parse(const std::string& text)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        names.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return names;
}

const std::vector<std::string>& GenreList::Names()
{
    static std::once_flag once;
    static std::vector<std::string> names;
    std::call_once(once, [] {
        try {
            std::ifstream in(CSoundFile::GetResourcePathString("genre-list-by-id.txt"), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            names = Parse(text);
        } catch (...) {
            names.clear();
        }
    });
    return names;
}

std::string GenreList::NameForNumber(long number)
{
    const std::vector<std::string>& names = Names();
    if (number < 1 || std::size_t(number) > names.size())
        return std::string();
    return names[std::size_t(number - 1)];
}
