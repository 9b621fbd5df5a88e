#include "ZudbTable.h"

#include <fstream>

namespace {

constexpr char kFieldSeparator = '\t';
constexpr char kLineEnd = '\n';

} // namespace

ZudbTable::ZudbTable() = default;

ZudbTable::ZudbTable(const char* path)
{
    if (!path)
        return;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    ReadZudbTable(in, *this);
}

ZudbTable::ZudbTable(const std::string& path) : ZudbTable(path.c_str()) {}

ZudbTable::~ZudbTable() = default;

ZudbTable ZudbTable::SelectRows(const std::string& column, const std::string& value)
{
    ZudbTable selected;
    selected.m_columns = m_columns;
    for (Row& row : m_rows) {
        if (row[column] == value)
            selected.m_rows.push_back(row);
    }
    return selected;
}

std::vector<std::string> ZudbTable::GetColumn(const std::string& column) const
{
    std::vector<std::string> values;
    values.reserve(m_rows.size());
    for (const Row& row : m_rows) {
        auto it = row.find(column);
        values.push_back(it == row.end() ? std::string() : it->second);
    }
    return values;
}

std::istream& ReadZudbTable(std::istream& in, ZudbTable& table)
{
    // Header: the column names up to the first LF.  A name not ended by TAB
    // or LF before the stream ends is dropped.
    std::vector<std::string> columns;
    std::string field;
    char c = 0;
    bool headerEnded = false;
    while (in.get(c)) {
        if (c == kFieldSeparator || c == kLineEnd) {
            columns.push_back(field);
            field.clear();
            if (c == kLineEnd) {
                headerEnded = true;
                break;
            }
        } else {
            field.push_back(c);
        }
    }
    table.columns() = columns;
    if (!headerEnded)
        return in;

    // Rows: each LF-ended line is one row; a line not ended by LF is dropped.
    ZudbTable::Row row;
    std::size_t cursor = 0;
    field.clear();
    while (in.get(c)) {
        if (c != kFieldSeparator && c != kLineEnd) {
            field.push_back(c);
            continue;
        }
        // Fields beyond the last column name are ignored.
        if (cursor < columns.size())
            row[columns[cursor]] = field;
        field.clear();
        ++cursor;
        if (c == kLineEnd) {
            table.rows().push_back(std::move(row));
            row = ZudbTable::Row();
            cursor = 0;
        }
    }
    return in;
}
