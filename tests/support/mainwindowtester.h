#pragma once

#include "shell/mainwindow.h"

// Runs the window's handlers directly, as their timers or buttons would.
struct MainWindowTester {
    MainWindow &w;

    void timer1() { w.Timer1_Timer(); }
    void timer2() { w.Timer2_Timer(); }
    void stTimer() { w.StTimer_Timer(); }
    void timerCom() { w.TimerCom_Timer(); }
    void transmit() { w.cmdUPort_Click(); }
    void holdInput(bool on) { w.setFormEnabled(!on); }
    MainWindow::State &state() { return w.m_state; }
};
