// Errands: work with the modem that is not a message (a USSD request, reading the
// SIM's phone book). They go through the modem's session on the thread that drives
// it, between records and reception cycles, so that nothing an errand says to the
// modem can fall between the commands of a send.
#pragma once

#include <functional>
#include <string>

#include "modem/session.h"
#include "platform/result.h"

namespace velka::app {

struct ModemErrand {
    // Runs on the thread that drives the modem (the worker's, when one runs): it must
    // not touch widgets, only post back to the front end's thread. The session is
    // open and its SIM ready; a call that waits must bound its wait and listen to the
    // session's stop signal.
    std::function<void(modem::Session& session)> run;
    // Instead of `run`, when the errand cannot run: no port is set, another process
    // drives the modem, the modem or its SIM is not ready, or the program closes
    // first. The sentence is in Windows-1251.
    std::function<void(const Error& why)> failed;
    // The modem of a pool it is for, as a route names one (app/routes.h: its IMEI,
    // port, SIM key or SIM name); empty: the first modem.
    std::string via = {};
};

}  // namespace velka::app
