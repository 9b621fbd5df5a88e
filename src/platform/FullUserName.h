// The user's full name, as the account describes it.
#pragma once

#include <QString>

// The first field of the account's description (its "GECOS" field), else
// the login name, else $USER; empty when none is known.
QString NSFullUserName();
