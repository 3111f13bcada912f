// What the client says when ModemManager may take its modem: the service probes every
// new USB serial device with AT commands of its own and keeps the modems it
// recognises, so that the client's first commands meet its traffic or the port is
// not the client's at all. The package's udev rule marks the modems the client knows;
// a modem of another maker, or a client run without the package, is not marked.
#pragma once

#include <cstdint>
#include <string>

#include "platform/modem_manager.h"
#include "platform/registry.h"

namespace velka::app {

// The notice for the port numbered `port_number`, in Windows-1251, when ModemManager
// runs and the port's device is one it probes, unmarked; empty otherwise (no port, no
// service, a marked device, a pseudo-terminal, Windows). A front end says it once,
// before the modem is first opened. Blocks on the registry and small system files;
// any thread.
std::string ModemManagerNotice(Registry& registry, std::uint16_t port_number,
                               const SystemPlaces& places = {});

}  // namespace velka::app
