// The main window's signals pane: a heading and a report list below the
// capture list, showing the selected frame's signals (name, value, unit,
// label, raw value). It is shown while a channel has a signal database;
// View > Signal Database... (signal_database_dialog.cpp) chooses them, and
// SETTING.ini's DBC section keeps them.
//
// Threads: everything here runs on the GUI thread (the databases, the one
// decoded frame, the windows).
#pragma once

#include <windows.h>

#include <cstdint>

#include "signals/signal_pane.h"

namespace ksvw {

// Posted by the start-up load to itself, so that a database named in
// SETTING.ini that cannot be read is reported once the window shows.
inline constexpr UINT WM_APP_SIGNALS_REPORT = WM_APP + 32;

// The databases and the decoded frame (GUI thread only).
signals::SignalPane& SignalPaneModel();

// Creates the heading and the list, hidden, as children of the main window.
void CreateSignalPane(HWND parent);
// Reads SETTING.ini's DBC section and loads the files it names; a file that
// cannot be read keeps its entry and is reported by WM_APP_SIGNALS_REPORT.
void LoadSignalDatabasesAtStart(HWND window);
// The report of the start-up load, once (the message's handler).
LRESULT ReportSignalDatabaseFailures(HWND window);

// The pane takes part in the layout (a channel has a database).
bool SignalPaneShown();
// Places the pane (heading on top), showing or hiding it as SignalPaneShown says.
void LayoutSignalPane(int x, int y, int width, int height);
// The main window laid out again: after the databases changed.
void RelayoutMainWindow();

// The capture list's selection moved to `row` (-1: none): the pane decodes
// that record of viewerReader and shows its signals.
void ShowSignalsOfRow(int32_t row);

// WM_NOTIFY from the pane's list.
bool IsSignalPaneControl(HWND control);
LRESULT HandleSignalPaneNotify(const NMHDR* header);

}  // namespace ksvw
