#include "session/RemoteSession.h"

namespace talviren {

RemoteSession::RemoteSession(MeterSource source, std::string decimalSeparator, QObject* parent)
    : QObject(parent),
      core_(std::move(source), http_, retry_, silence_, std::move(decimalSeparator)) {}

RemoteSession::~RemoteSession() {
    clock_.stop();
    core_.stop();
}

} // namespace talviren
