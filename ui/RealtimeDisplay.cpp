#include "ui/RealtimeDisplay.h"

#include "measure/ValueText.h"

namespace talviren {

namespace {

// A symbol as a caption of the live view: "AC I" becomes "AC I: ".
std::string quantityCaption(std::string_view symbol) {
    std::string caption(symbol);
    caption += ": ";
    return caption;
}

} // namespace

RealtimeDisplay::RealtimeDisplay()
    : names_{std::string(kInitialNames[0]), std::string(kInitialNames[1])},
      values_{std::string(kInitialValues[0]), std::string(kInitialValues[1])} {}

bool RealtimeDisplay::ShowQuantityNames(std::uint8_t function) {
    const auto symbols = quantitySymbols(function);
    if (!symbols) {
        return false;
    }
    names_[0] = quantityCaption(symbols->current);
    names_[1] = quantityCaption(symbols->second);
    return true;
}

bool RealtimeDisplay::ShowRealtimeReading(const DecodedReading& reading) {
    if (!ShowQuantityNames(reading.raw.function)) {
        return false; // unknown function: the view keeps the previous reading
    }
    if (reading.current) {
        values_[0] = reading.current->text;
    }
    if (reading.second) {
        values_[1] = reading.second->text;
    }
    return true;
}

} // namespace talviren
