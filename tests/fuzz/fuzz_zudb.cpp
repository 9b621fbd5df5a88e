// The .zudb reader on damaged tables: rows come out no wider than the
// header, and the queries work on whatever was read.
#include "FuzzTarget.h"
#include "ZudbTable.h"

#include <cstdlib>
#include <sstream>

std::vector<std::string> FuzzSeeds()
{
    return {"name\tcc\tindicators\nSplit stereo\t1\t.L|.R\n5.1 Surround\t6\t.L|.R|.C|.LFE|.Ls|.Rs\n",
            "pattern\tname\tindicator\r\n(?i)^\\.l$\tLeft\t.L\r\n", "a\t\tb\n\n1\t2\t3\t4\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    ZudbTable table;
    ReadZudbTable(in, table);
    for (const ZudbTable::Row& row : table.rows())
        if (row.size() > table.columns().size())
            std::abort();
    if (!table.columns().empty()) {
        ZudbTable selected = table.SelectRows(table.columns().front(), "1");
        (void)selected;
        (void)table.GetColumn(table.columns().back());
    }
    return 0;
}
