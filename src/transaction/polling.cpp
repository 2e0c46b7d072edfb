// Automatic polling: a timer that presses Send once a second while polling is
// on, skipping every tick at which an answer is still awaited.
#include "panel/frmMain.h"

void frmMain::AutoON() {
  AutoPolling = true;
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
