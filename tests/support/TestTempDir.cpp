#include "TestTempDir.h"

#include <QDir>
#include <cstdlib>
#include <stdexcept>

TestTempDir::TestTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/qmtest-XXXXXX";
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("cannot create a temporary test folder");
    path_ = templ;
}

TestTempDir::~TestTempDir()
{
    QDir(QString::fromStdString(path_)).removeRecursively();
}

std::string TestTempDir::file(const std::string& name) const
{
    return path_ + "/" + name;
}
