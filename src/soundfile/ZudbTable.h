// Small tab-separated data tables among the application's resources
// (extension "zudb"): "surround.zudb" (surround sets and the member name
// indicators of each channel configuration), "channelnames.zudb" (channel
// names shown for set members) and "metadata_keys".
//
// Format: bytes, no character-set conversion.  The first line holds the
// column names separated by TAB; every further line is one row whose n-th
// TAB-separated field is the value of the n-th column.  Only TAB (9) and
// LF (10) are special: CR and every other byte belong to the field they
// stand in (so a CR LF file keeps the CR at the end of each line's last
// value and of the last column name).  There is no quoting, escaping or
// comment syntax.  A line that is not ended by LF is not stored.
//
// Reading never fails: a missing or unreadable file gives an empty table,
// a malformed one whatever rows its LF-ended lines make.  The reader copes
// with any input: a field or line of any length, binary bytes, more fields
// than columns (the extra fields are ignored).
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

class ZudbTable {
public:
    // One row: column name -> value, ordered by byte-wise comparison.
    // Look values up with operator[] (row["cc"]): a column the row lacks
    // reads as the empty string and is added to the row with that value,
    // which is how every user of a table reads it.
    using Row = std::map<std::string, std::string>;

    // An empty table: no columns, no rows.
    ZudbTable();
    // The table read from the file at `path` (empty when the path is null
    // or cannot be opened; no error is reported).
    explicit ZudbTable(const char* path);
    explicit ZudbTable(const std::string& path);
    ~ZudbTable();

    ZudbTable(const ZudbTable&) = default;
    ZudbTable& operator=(const ZudbTable&) = default;
    ZudbTable(ZudbTable&&) = default;
    ZudbTable& operator=(ZudbTable&&) = default;

    // The same columns and a copy of every row whose value in `column`
    // equals `value` (same bytes), in table order.  Rows that lack the
    // column get it added with an empty value (so an empty `value` selects
    // them too).
    ZudbTable SelectRows(const std::string& column, const std::string& value);
    // The column's value in every row, in row order; the empty string for a
    // row that lacks it (the row is not changed).
    std::vector<std::string> GetColumn(const std::string& column) const;

    std::vector<std::string>& columns() { return m_columns; }
    const std::vector<std::string>& columns() const { return m_columns; }
    std::vector<Row>& rows() { return m_rows; }
    const std::vector<Row>& rows() const { return m_rows; }
    bool empty() const { return m_rows.empty(); }

private:
    std::vector<std::string> m_columns;
    std::vector<Row> m_rows;
};

// Reads the whole stream: the table's column list is replaced by the first
// line's names, the rows read are appended to its rows.  A row with fewer
// fields than columns does not inherit values from the row before it: the
// columns it leaves out are simply absent (and read as empty).  Returns
// the stream.
std::istream& ReadZudbTable(std::istream& in, ZudbTable& table);
