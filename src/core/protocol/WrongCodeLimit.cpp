#include "protocol/WrongCodeLimit.h"

namespace tvx {

bool WrongCodeLimit::IsShutOut(const QString& address, qint64 nowMs) const {
    const auto found = entries_.constFind(address);
    return found != entries_.cend() && found->wrongCodes >= kMaxWrongCodes &&
           nowMs - found->windowStart < kWindowMs;
}

void WrongCodeLimit::CountWrong(const QString& address, qint64 nowMs) {
    auto found = entries_.find(address);
    if (found != entries_.end() && nowMs - found->windowStart < kWindowMs) {
        ++found->wrongCodes;
        return;
    }
    if (found == entries_.end() && entries_.size() >= kMaxAddresses)
        MakeRoom(nowMs);
    entries_.insert(address, Entry{nowMs, 1});
}

void WrongCodeLimit::CountRight(const QString& address) {
    entries_.remove(address);
}

// Windows that have ended go first; when every window is still open, the one that ends
// soonest makes way, as it would have been forgotten first anyway.
void WrongCodeLimit::MakeRoom(qint64 nowMs) {
    entries_.removeIf(
        [nowMs](const auto& entry) { return nowMs - entry.value().windowStart >= kWindowMs; });
    if (entries_.size() < kMaxAddresses)
        return;
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->windowStart < oldest->windowStart)
            oldest = it;
    }
    entries_.erase(oldest);
}

}  // namespace tvx
