// Automatic polling: a timer that presses Send every txtPollInterval ms while polling is
// on, skipping every tick at which an answer is still awaited.
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"

void frmMain::AutoON() {
  AutoPolling = true;
  ApplyPollInterval();
  RefreshTimerAuto();
  cmdAuto0.SetFocus();
}

void frmMain::AutoOFF() {
  AutoPolling = false;
  RefreshTimerAuto();
  cmdAuto1.SetFocus();
}

void frmMain::RefreshTimerAuto() {
  // The stop button lies over the start button; only one of them shows.
  pctAuto.SetVisible(AutoPolling);
  cmdAuto1.SetVisible(!AutoPolling);
  tmrAuto.SetEnabled(AutoPolling);
  // The first poll does not wait for the first tick.
  if (tmrAuto.Enabled()) tmrAuto_Timer();
}

void frmMain::tmrAuto_Timer() {
  if (!AwaitingResponse) cmdSend_Click();
}

void frmMain::cmdAuto1_MouseDown() { AutoON(); }

void frmMain::cmdAuto0_MouseDown() { AutoOFF(); }

void frmMain::ApplyPollInterval() {
  // A value outside the range (typed but refused by the value check, or not a
  // number) leaves the interval as it was.
  if (const auto ms = ParseLong(TrimBlank(txtPollInterval.Text())); ms && *ms >= kMinPollMs && *ms <= kMaxPollMs)
    tmrAuto.SetInterval(*ms);
}
