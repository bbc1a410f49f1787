// Greying and enabling the Send and Receive menu items as transfers start
// and end. Both do nothing before the main window exists.
#ifndef BRISVANE_SHELL_MENU_ITEMS_H
#define BRISVANE_SHELL_MENU_ITEMS_H

// busy: Raw, Binary and Text File greyed, End enabled; otherwise the reverse.
void SetSendItems(bool busy);
// busy: Raw and Text File greyed, End enabled; otherwise the reverse.
void SetCaptureItems(bool busy);

#endif
