// The words of the main window's status bar, of the queue view and of the
// warnings the worker's events bring, in Windows-1251: the modem (port, state,
// operator, signal), the queue, a bulk send's progress, the last failure with its
// next attempt, a modem state that stops the messages, a store file the disk
// refuses, a damaged queue file. Pure functions; any thread.
#pragma once

#include <string>

#include "app/app_core.h"
#include "app/outgoing_queue.h"
#include "app/queue_view.h"
#include "app/worker.h"
#include "modem/session.h"
#include "platform/device_access.h"

namespace velka::app {

// The state in a word or two: "готов", "не отвечает", "порт не найден", "нужен PIN-код"...
std::string ModemStateWord(modem::ModemState state);

// The signal as a level from the AT+CSQ value: "сигнал: хороший" (15 and more),
// "средний" (10 to 14), "слабый" (1 to 9), "нет сигнала" (0); empty when unknown.
std::string SignalLevelText(int csq);

// "COM3: готов, МегаФон, сигнал: хороший"; the operator and the signal only
// while the modem is ready and says them.
std::string ModemLine(const std::string& port_name, const modem::ModemStatus& status,
                      const modem::ModemInfo& info);

// One modem of a pool as the "Модемы" pane shows it: port, state ("готов",
// "другой порт модема на COM5"), operator, signal, SIM (its name, else its key), IMEI,
// what it sent today and this hour (against the SIM's limits: "12 из 500").
struct PoolModemCells {
    std::string port;
    std::string state;
    std::string operator_name;
    std::string signal;
    std::string sim;
    std::string imei;
    std::string today;
    std::string hour;
    bool operator==(const PoolModemCells&) const = default;
};
PoolModemCells DescribePoolModem(const AppCore::PoolModemView& modem,
                                 const settings::SimSettings& sim);
// The pool in the status bar and the tray: "Модемы: готовы 3 из 4, отправлено сегодня: 40".
std::string PoolLine(const std::vector<AppCore::PoolModemView>& modems);
// One modem in the status bar's tooltip: "COM5: готов, МТС, сигнал: хороший; сегодня 12 из 500".
std::string PoolModemLine(const PoolModemCells& cells);

// "В очереди: 5".
std::string QueueLine(std::size_t count);

// "Отправлено 37 из 200"; empty when no bulk is under way.
std::string BulkLine(const BulkProgress& bulk);

// Why a send failed and when it is tried again: "Модем отказал (+CMS ERROR: 500),
// повтор через 8 с", or "Модем не ответил, ..." without a refusal; "повтор сейчас"
// once the moment has come. Seconds round up, so a countdown never shows 0 early.
std::string FailureLine(const std::string& refusal, Clock::time_point next_attempt,
                        Clock::time_point now);

// The state column of the queue view: "отправляется" (and why a text goes again
// whole), "ждёт", the failure line of a resting record, "не может быть отправлено".
std::string QueueStateText(const QueueRow& row, Clock::time_point now);

// The sentence (Windows-1251) that tells the user a modem state: what is wrong and
// what becomes of the messages; empty for Ready and Unknown, and for PortMissing,
// which the status bar shows: an unplugged modem is no reason for a message box.
std::string ModemStateText(const modem::ModemStatus& status);

// Why an errand did not run (ModemErrand::failed), Windows-1251: the modem is not
// ready ("Модем не готов (нужен PIN-код), запрос не выполнен."), or, with
// `closing`, the program closed first.
std::string ErrandNotRunText(const modem::ModemStatus& status, bool closing);
// "Модем «COM7» не найден среди модемов, или его SIM-карта ещё не была готова; запрос
// не выполнен." `via` is Windows-1251, as the routes keep it.
std::string ErrandModemUnknownText(std::string_view via);

// The sentence for a port whose device the user may not open: the device, the group
// that owns it, the command that adds the user to it. Windows-1251. ModemStateText
// gives it for PortDenied.
std::string PortDeniedText(const DeviceDenial& denial);
// The same in English, UTF-8, for the error stream: "permission denied on ...".
std::string PortDeniedEnglish(const DeviceDenial& denial);

// How new messages reach the client (WorkerEvents::on_reception), for the modem's
// tool tip and velka-sms-cli. Windows-1251.
std::string ReceptionText(modem::Reception mode);

// The warning a front end shows for WorkerEvents::on_queue_damaged. Windows-1251.
std::string QueueDamageWarning(const QueueDamage& damage);

// The warning a front end shows for WorkerEvents::on_store_failed, around the
// system's reason: what could not be written, and what becomes of it. Windows-1251.
struct StoreFailureText {
    std::string what;
    std::string outcome;
};
StoreFailureText StoreFailureWarning(StoreFile file);

}  // namespace velka::app
