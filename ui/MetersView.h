#pragma once

#include "meters/FleetCore.h"
#include "ui/NamedLabel.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QGridLayout;
class QLabel;
class QToolButton;

namespace talviren {

// The Meters view: a tile per meter (its name, both quantities as that meter shows them, S and
// P, the link, its raised alarms) and below them the sum of S and P over the meters that
// measure AC voltage, and of their energies. Every label a screen reader is to read carries its
// name ("L2 current") and its text as its description.
class MetersView : public QWidget, private FleetListener, private AlarmListener {
    Q_OBJECT

public:
    MetersView(FleetCore& fleet, QWidget* parent = nullptr);
    ~MetersView() override;

    // Separator of the sums' texts (the user's, by default).
    void setDecimalSeparator(std::string separator) { separator_ = std::move(separator); }
    // What "Meters…" does (the dialog and the settings, by the window).
    void setEditMeters(std::function<void()> edit) { editMeters_ = std::move(edit); }

    // One tile's labels.
    struct Tile {
        QLabel* name = nullptr;
        NamedLabel* current = nullptr;
        NamedLabel* second = nullptr;
        NamedLabel* power = nullptr;
        NamedLabel* link = nullptr;
        NamedLabel* alarms = nullptr;
    };
    const std::vector<Tile>& tiles() const { return tiles_; }
    NamedLabel* totalPower = nullptr;  // "Σ S 6310.742VA, Σ P 5995.205W"
    NamedLabel* totalEnergy = nullptr; // "Σ E 12.3456 VAh, 11.7283 Wh"
    QToolButton* metersButton = nullptr;
    QToolButton* resetButton = nullptr;

    // Writes every tile and the sums now (they follow the meters on the event loop's turn).
    void refresh();

private:
    void rebuild();
    void refreshSoon();
    void metersReplaced() override { rebuild(); }
    void readingRecorded(std::size_t, const TimedReading&) override { refreshSoon(); }
    void meterChanged(std::size_t) override { refreshSoon(); }
    void sumAdded(const SumPoint&) override { refreshSoon(); }
    void alarmChanged(const AlarmEvent&) override { refreshSoon(); }
    void alarmsConfigured() override { refreshSoon(); }
    void listenToAlarms(bool listen);
    // A plain number with the user's separator.
    QString withSeparator(const std::string& number) const;

    FleetCore& fleet_;
    std::string separator_;
    std::function<void()> editMeters_;
    QGridLayout* grid_ = nullptr;
    QWidget* tilesArea_ = nullptr;
    std::vector<Tile> tiles_;
    std::vector<AlarmEngine*> heard_;
    QTimer refresh_;
};

} // namespace talviren
