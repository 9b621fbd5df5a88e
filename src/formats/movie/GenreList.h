// The genre names by number, from the resource "genre-list-by-id.txt": one
// name per line ended by a line feed (a last line without one is not
// taken); entry i is genre number i + 1.  Read once per process, on first
// use, from any thread.
#pragma once

#include <string>
#include <vector>

class GenreList {
public:
    static const std::vector<std::string>& Names();
    // The name of genre `number` (1-based); empty when there is none.
    static std::string NameForNumber(long number);
    // The lines of `text` as the list takes them.
    static std::vector<std::string> Parse(const std::string& text);
};
