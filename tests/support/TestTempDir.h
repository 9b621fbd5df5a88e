// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <QString>
#include <string>

class TestTempDir {
public:
    TestTempDir();
    ~TestTempDir();
    TestTempDir(const TestTempDir&) = delete;
    TestTempDir& operator=(const TestTempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    QString qpath() const { return QString::fromStdString(path_); }

private:
    std::string path_;
};
