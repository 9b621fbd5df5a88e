#include "FullUserName.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

QString NSFullUserName()
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        const QString gecos = QString::fromLocal8Bit(found->pw_gecos ? found->pw_gecos : "");
        const QString full = gecos.section(QLatin1Char(','), 0, 0).trimmed();
        if (!full.isEmpty())
            return full;
        if (found->pw_name && *found->pw_name)
            return QString::fromLocal8Bit(found->pw_name);
    }
    return qEnvironmentVariable("USER");
}
