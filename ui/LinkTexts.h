#pragma once

#include "meters/LinkStatus.h"

#include <QCoreApplication>
#include <QString>

namespace talviren {

// The words of a meter's link, in one place.
class LinkTexts {
    Q_DECLARE_TR_FUNCTIONS(LinkTexts)

public:
    // As its tile says it: "connected on COM5", "connected to cellar.local:8080", "offline
    // since 12:03:11", "wrong token", or why a remote is refused.
    static QString of(const LinkStatus& status);
};

inline QString linkText(const LinkStatus& status) {
    return LinkTexts::of(status);
}

} // namespace talviren
