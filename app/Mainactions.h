#pragma once
// The main window's remaining commands (the standard close and edit commands, "Close All",
// "&About...", the language entries, "Automatic Adjust", "Calibrate Angle" and the
// quick-start project commands), and the one place that lays out the menus, the tool bars
// and the quick-start panel from the whole action list.

class TMainForm;

// Adds the commands named above to the main window's action list.
void AddMainActions(TMainForm& form);

// Builds the menus, the three tool bars and the quick-start panel, in their order, from
// the actions of the list. Called once, after every command has been added.
void LayOutMainWindow(TMainForm& form);
