#pragma once

#include "study/LoadStudy.h"

#include <QAbstractTableModel>

#include <memory>

namespace talviren {

// The top peaks of a study as a table: a row per peak, each meter's highest first, with its
// meter, its start and its mean current as text ("2026-01-12 17:45", "23.41 A"), the highest
// reading, S and the coverage.
class PeaksModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit PeaksModel(QObject* parent = nullptr);

    // Shows the peaks of this study (none: empty).
    void setStudy(std::shared_ptr<const study::StudyResult> result);
    // The meter and the interval of a row.
    struct Peak {
        std::size_t meter = 0;
        const study::Interval* interval = nullptr;
    };
    const Peak& peak(int row) const { return peaks_[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::shared_ptr<const study::StudyResult> result_;
    std::vector<Peak> peaks_;
};

} // namespace talviren
