// A modem of the pool the user may pick in a window (the compose window's "Через
// модем", the USSD window's "Модем").
#pragma once

#include <QString>
#include <string>

namespace velka::gui {

struct ModemChoice {
    QString label;    // "COM5 — Рабочая"
    std::string via;  // what names it to the core (app/routes.h): its IMEI, else its port
};

}  // namespace velka::gui
