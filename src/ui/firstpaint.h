// Start-up timing: with ARCAVO_REPORT_FIRST_PAINT set, the first paint of the window is reported
// on stderr as one line
//
//   first-paint <ms since the process started> monotonic-ms <CLOCK_MONOTONIC> rss-kb <VmRSS>
//
// and with the value "quit" the program then ends as after its event loop (status 0).
#pragma once

class QWidget;

// Watches window for its first paint when the variable is set; does nothing otherwise.
void ReportFirstPaint(QWidget* window);
