// The maker's addresses: the web site, the version list that "Check for
// Updates" reads, and the feedback mail address.  They are settings of the
// build (cmake -DQM_WEB_SITE=... -DQM_VERSION_LIST_URL=...
// -DQM_FEEDBACK_ADDRESS=...) with no default; a build without one says so
// where it would be used, and never pretends to reach it.
#pragma once

#include <QString>

struct MakerAddresses {
    QString webSite;
    QString versionList;
    QString feedback;

    // The build's addresses (or those a test put in their place).
    static const MakerAddresses& current();
    // Tests: other addresses; nullptr brings back the build's.
    static void setForTesting(const MakerAddresses* addresses);
};
