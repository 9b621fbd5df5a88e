#include "MakerAddresses.h"

#include <optional>

namespace {

std::optional<MakerAddresses>& replacement()
{
    static std::optional<MakerAddresses> addresses;
    return addresses;
}

} // namespace

const MakerAddresses& MakerAddresses::current()
{
    static const MakerAddresses build{QStringLiteral(QM_WEB_SITE), QStringLiteral(QM_VERSION_LIST_URL),
                                      QStringLiteral(QM_FEEDBACK_ADDRESS)};
    return replacement() ? *replacement() : build;
}

void MakerAddresses::setForTesting(const MakerAddresses* addresses)
{
    if (addresses)
        replacement() = *addresses;
    else
        replacement().reset();
}
