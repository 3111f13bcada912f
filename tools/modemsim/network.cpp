#include "tools/modemsim/network.h"

#include <algorithm>

#include "tools/modemsim/modem.h"

namespace velka::modemsim {

bool SameNumber(const std::string& a, const std::string& b) {
    auto digits = [](const std::string& n) { return n.starts_with('+') ? n.substr(1) : n; };
    return !a.empty() && digits(a) == digits(b);
}

void Network::Attach(Modem& modem) {
    std::lock_guard lock(mutex_);
    modems_.push_back(&modem);
}

void Network::Detach(Modem& modem) {
    std::lock_guard lock(mutex_);
    std::erase(modems_, &modem);
}

void Network::Route(const std::string& sender, const Submit& submit) {
    Deliver deliver;
    deliver.service_centre = service_centre_;
    deliver.originator = sender;
    deliver.time = NowLocal();
    deliver.reply_path = submit.reply_path;
    deliver.data = submit.data;
    // The lock stays held while the recipient stores the message, so that it
    // cannot detach and go in between; recipients never call back into the network.
    std::lock_guard lock(mutex_);
    const auto recipient = std::find_if(modems_.begin(), modems_.end(), [&](Modem* m) {
        return SameNumber(m->number(), submit.destination);
    });
    if (recipient == modems_.end()) {
        outside_.push_back(
            OutsideMessage{sender, submit.destination, UserDataText(submit.data), submit.data});
        return;
    }
    (*recipient)->Receive(BuildDeliver(deliver));
}

std::vector<OutsideMessage> Network::Outside() const {
    std::lock_guard lock(mutex_);
    return outside_;
}

}  // namespace velka::modemsim
