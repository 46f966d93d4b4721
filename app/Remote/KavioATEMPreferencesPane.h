#pragma once
// The switcher pane of the preferences window: switcher, input, on-switch and pause-at-end menus,
// the connection status, the no-driver button, the HyperDeck switch with this computer's address,
// and the manual-address sheet on the preferences window. Main thread.

#include "Remote/KavioATEMManager.h"

class QWidget;

// Builds the pane; its controls go into `outlets` (the sheet is a child of `preferencesWindow`).
QWidget* buildATEMPreferencesPane(KavioATEMManagerOutlets& outlets, QWidget* preferencesWindow);
