// The one way the program reports a failure: a modal box with the caption
// "Error" and a text from the string table.
#ifndef BRISVANE_SHELL_ERROR_BOX_H
#define BRISVANE_SHELL_ERROR_BOX_H

// Waits until the user closes the box. Owned by the main window once it
// exists, by no window before.
void ShowError(unsigned stringId);

#endif
