// The radio network between simulated modems: a submit to a number that another
// simulated modem owns arrives there as an SMS-DELIVER; submits to any other number
// are kept for inspection. Thread-safe: modems route from their own threads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tools/modemsim/pdu.h"

namespace velka::modemsim {

class Modem;

struct OutsideMessage {
    std::string sender;
    std::string destination;
    std::string text;  // the user data as text, for people
    UserData data;
};

class Network {
  public:
    explicit Network(std::string service_centre = "+79990000000")
        : service_centre_(std::move(service_centre)) {}
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    const std::string& service_centre() const { return service_centre_; }

    // Modems attach when they start and detach before they go; a modem is never
    // routed to after Detach returns.
    void Attach(Modem& modem);
    void Detach(Modem& modem);

    // Delivers `submit` from `sender`: user data, coding and header flag unchanged,
    // the service centre's time stamp now. Called without the sender's lock held.
    void Route(const std::string& sender, const Submit& submit);

    std::vector<OutsideMessage> Outside() const;

  private:
    const std::string service_centre_;
    mutable std::mutex mutex_;
    std::vector<Modem*> modems_;           // guarded by mutex_
    std::vector<OutsideMessage> outside_;  // guarded by mutex_
};

// Two numbers name the same subscriber: equal digits, the "+" aside.
bool SameNumber(const std::string& a, const std::string& b);

}  // namespace velka::modemsim
