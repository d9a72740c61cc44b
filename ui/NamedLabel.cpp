#include "ui/NamedLabel.h"

namespace talviren {

NamedLabel::NamedLabel(const QString& accessibleName, QWidget* parent) : QLabel(parent) {
    setAccessibleName(accessibleName);
}

void NamedLabel::setText(const QString& text) {
    QLabel::setText(text);
    setAccessibleDescription(text);
}

} // namespace talviren
