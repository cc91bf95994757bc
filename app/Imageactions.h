#pragma once
// The main window's commands on image and notes windows: new, open, load and save
// images and notes, zoom, refresh, invert, image size, and the camera grabs into the
// active image window. Each is an action of the main window's action list with its
// Update rule, shown in the menus and tool bars.

class TMainForm;

// Adds the actions to form's action list, menus and tool bars (after they are built).
void AddImageWindowActions(TMainForm& form);
