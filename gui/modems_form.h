// The pane "Модемы": every modem of the pool with its port, state, operator,
// signal, SIM, IMEI and what it sent today and this hour, opened from "Сервис" →
// "Модемы…" (shown while a pool of two modems or more runs). It only shows;
// the window fills it again every second. Built in code: a list and a button.
#pragma once

#include <QDialog>
#include <vector>

#include "app/status_text.h"

class QTableWidget;

namespace velka::gui {

class TModemsForm final : public QDialog {
  public:
    explicit TModemsForm(QWidget* parent = nullptr);

    void Fill(const std::vector<app::PoolModemCells>& modems);

  private:
    QTableWidget* table_;  // owned by the form (Qt parent)
};

}  // namespace velka::gui
