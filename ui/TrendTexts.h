#pragma once

#include "log/DurableLog.h"
#include "power/PowerFactor.h"
#include "power/PowerTally.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <optional>

namespace talviren {

// The Trend view's lines of text about a run, in one place.
class TrendTexts {
    Q_DECLARE_TR_FUNCTIONS(TrendTexts)

public:
    // The energy line: "E 2.556 VAh, 1.278 Wh at PF 0.5 since 08:00:00", and with several
    // meters their sum after it ("   Σ E 7.668 VAh, 3.834 Wh"); empty before any S.
    struct SumEnergy {
        std::int64_t apparentUnits = 0; // ten-thousandths of a VA h
        std::optional<double> wh;
    };
    static QString energy(const PowerTally& power, std::optional<PowerFactor> factor,
                          const QString& separator, std::optional<SumEnergy> sum);
    // The log line: "run.csv: 120 lines (and 2 more logs)", and while behind what waits, what
    // went and why.
    static QString log(const DurableLog& log, std::size_t moreLogs);
};

} // namespace talviren
