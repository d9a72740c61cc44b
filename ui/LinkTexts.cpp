#include "ui/LinkTexts.h"

#include <QDateTime>

namespace talviren {

QString LinkTexts::of(const LinkStatus& status) {
    const QString where = QString::fromStdString(status.where);
    switch (status.problem) {
    case LinkStatus::Problem::None:
        return status.remote() ? tr("connected to %1").arg(where)
                               : tr("connected on COM%1").arg(status.port);
    case LinkStatus::Problem::MeterSilent:
        return tr("connected to %1 (its meter is not answering)").arg(where);
    case LinkStatus::Problem::Offline:
        if (status.sinceMs) {
            return tr("offline since %1")
                .arg(QDateTime::fromMSecsSinceEpoch(*status.sinceMs)
                         .toString(QStringLiteral("HH:mm:ss")));
        }
        break;
    case LinkStatus::Problem::Connecting:
        return tr("connecting to %1").arg(where);
    case LinkStatus::Problem::WrongToken:
        return tr("wrong token");
    case LinkStatus::Problem::Refused:
        return tr("not a talviren logger: %1").arg(QString::fromStdString(status.detail));
    case LinkStatus::Problem::Searching:
        break;
    }
    return tr("searching");
}

} // namespace talviren
