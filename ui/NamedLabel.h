#pragma once

#include <QLabel>

namespace talviren {

// A label with an accessible name ("Raised alarms", "Energy") that screen readers still read
// the text of: Qt 6.4 exposes a named label's name alone, so the text shown goes along as its
// accessible description, kept in step with every change.
class NamedLabel : public QLabel {
    Q_OBJECT

public:
    NamedLabel(const QString& accessibleName, QWidget* parent = nullptr);

    // Shows `text` and makes it the accessible description.
    void setText(const QString& text);
    // Shows nothing.
    void clear() { setText(QString()); }
};

} // namespace talviren
