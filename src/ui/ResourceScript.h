/* The configuration user interface's resources, written once for both of
   their readers: ui/Resources.cpp expands them into the C++ tables the
   platform registers, and the Windows resource script
   (com/OstrelAntiPhishingBHO.rc) into DIALOGEX and STRINGTABLE statements.
   Each list is a macro taking the macro that renders one entry. Only the
   preprocessor may be used here (the resource compiler reads it too): no
   C++, no parentheses around style expressions (the resource compiler's
   NOT must stand at their top level). Styles are the DIS_* names of
   platform/ResourceTables.h; the .rc maps each to the Windows style. */
#ifndef OSTREL_UI_RESOURCE_SCRIPT_H
#define OSTREL_UI_RESOURCE_SCRIPT_H

#define OSTREL_SHIELD_BITMAP 204

/* DIALOG(id, caption, font name, point size, width, height) */
#define OSTREL_CONFIG_DIALOG(DIALOG) DIALOG(101, L"Configuration", L"MS Sans Serif", 8, 411, 307)

#define OSTREL_EDIT_STYLE DIS_TABSTOP | DIS_BORDER | DIS_AUTOHSCROLL

/* ITEM(id, kind, text, x, y, cx, cy, style, bitmap), in template (and tab)
   order: kind names a DialogItemKind; -1 is an item no code addresses;
   bitmap is the picture of a Bitmap item, 0 for the others. */
#define OSTREL_CONFIG_DIALOG_ITEMS(ITEM) \
  ITEM(-1, Bitmap, L"", 17, 7, 50, 50, DIS_SUNKEN | DIS_BORDER, OSTREL_SHIELD_BITMAP) \
  ITEM(-1, CentredText, L"Ostrel Anti-Phishing Filter", 98, 22, 215, 8, 0, 0) \
  ITEM(-1, CentredText, L"Protection against phishing sites while you browse", \
       98, 34, 215, 8, 0, 0) \
  ITEM(208, Edit, L"", 17, 87, 175, 14, OSTREL_EDIT_STYLE, 0) \
  ITEM(210, Edit, L"", 17, 117, 175, 14, OSTREL_EDIT_STYLE, 0) \
  ITEM(207, Edit, L"", 17, 147, 175, 14, OSTREL_EDIT_STYLE, 0) \
  ITEM(217, DropDownList, L"", 17, 177, 175, 80, DIS_TABSTOP | DIS_VSCROLL, 0) \
  ITEM(205, Edit, L"", 17, 205, 175, 14, OSTREL_EDIT_STYLE, 0) \
  ITEM(215, AutoCheckBox, L"Enable automatic configuration update mode", \
       17, 257, 157, 10, DIS_TABSTOP, 0) \
  ITEM(218, PushButton, L"&Configure", 17, 276, 50, 14, DIS_TABSTOP, 0) \
  ITEM(212, PushButton, L"...", 379, 88, 16, 13, DIS_TABSTOP, 0) \
  ITEM(202, AutoCheckBox, L"Allow click through for black listed sites:", \
       217, 107, 141, 10, DIS_TABSTOP, 0) \
  ITEM(201, AutoCheckBox, L"Allow click through for grey listed sites:", \
       217, 122, 137, 10, DIS_TABSTOP, 0) \
  ITEM(203, AutoCheckBox, L"Load database on demand:", 217, 137, 103, 10, DIS_TABSTOP, 0) \
  ITEM(221, PushButton, L"U&pdate", 345, 190, 50, 14, DIS_TABSTOP, 0) \
  ITEM(219, PushButton, L"Up&date", 345, 251, 50, 14, DIS_TABSTOP, 0) \
  ITEM(220, PushButton, L"&Apply", 242, 286, 50, 14, DIS_TABSTOP | DIS_HIDDEN, 0) \
  ITEM(1, DefPushButton, L"OK", 298, 286, 50, 14, DIS_TABSTOP, 0) \
  ITEM(2, PushButton, L"Cancel", 354, 286, 50, 14, DIS_TABSTOP, 0) \
  ITEM(209, Edit, L"", 217, 86, 158, 14, OSTREL_EDIT_STYLE | DIS_READONLY, 0) \
  ITEM(-1, Text, L"Redirection address for grey listed items:", 17, 75, 135, 8, 0, 0) \
  ITEM(-1, Text, L"Local database file location:", 217, 73, 135, 8, 0, 0) \
  ITEM(-1, Text, L"Database update location:", 17, 135, 135, 8, 0, 0) \
  ITEM(-1, Text, L"Database update polling interval:", 17, 165, 135, 8, 0, 0) \
  ITEM(-1, Text, L"Redirection address for black listed items:", 17, 105, 135, 8, 0, 0) \
  ITEM(-1, GroupBox, L"User settings", 207, 61, 197, 94, 0, 0) \
  ITEM(-1, GroupBox, L"Advanced settings", 7, 61, 197, 239, 0, 0) \
  ITEM(-1, Text, L"Address to look for Anti-Phishing Filter updates:", \
       17, 193, 175, 8, 0, 0) \
  ITEM(-1, Text, L"Version:", 217, 176, 26, 8, 0, 0) \
  ITEM(-1, Text, L"Version", 217, 237, 24, 8, 0, 0) \
  ITEM(222, Text, L"00001", 280, 176, 35, 8, 0, 0) \
  ITEM(223, Text, L"00001", 280, 237, 35, 8, 0, 0) \
  ITEM(-1, GroupBox, L"Anti-Phishing Filter", 207, 224, 197, 53, 0, 0) \
  ITEM(-1, GroupBox, L"Phish list database", 207, 163, 197, 53, 0, 0) \
  ITEM(204, Edit, L"", 17, 235, 175, 14, OSTREL_EDIT_STYLE | DIS_READONLY, 0) \
  ITEM(-1, Text, L"Location of remote configuration settings:", 17, 223, 130, 8, 0, 0)

/* STRING(id, text). 100 is the module's name; the others are the dialog's
   and the update check's. */
#define OSTREL_STRING_TABLE(STRING) \
  STRING(100, L"OstrelAntiPhishingBHO") \
  STRING(101, L"Hourly") \
  STRING(102, L"Daily") \
  STRING(103, L"Weekly") \
  STRING(104, L"Monthly") \
  STRING(105, L"Yearly") \
  STRING(106, L"Update automatic configuration settings?") \
  STRING(107, L"Are you sure you wish to revert to using automatic configuration mode, " \
              L"current settings will be overwritten?") \
  STRING(108, L"Ostrel Anti-Phishing Filter") \
  STRING(109, L"A new version of the Ostrel Anti-Phishing Filter is now avaliable. " \
              L"Would you like to download this update?") \
  STRING(110, L"Check for an update to the Ostrel Anti-Phishing Filter?") \
  STRING(111, L"Update of the Phish database now?") \
  STRING(114, L"There are no Ostrel Anti-Phishing Filter updates at this time") \
  STRING(115, L"Current settings have been applied") \
  STRING(116, L"Unknown") \
  STRING(117, L"Please confirm you wish to change the location of the database file " \
              L"to the following location:\r\n\r\n%s\r\n\r\nIf you answer yes to this " \
              L"the change will take place immediately.") \
  STRING(118, L"Are you sure you want to disable automatic configuration mode? " \
              L"Incorrectly configuring the advanced settings may render you " \
              L"unprotected against Phish attacks.") \
  STRING(119, L"The path of the folder you chose is too long: the database file in it " \
              L"would have a path of more than 259 characters. Please choose a folder " \
              L"with a shorter path. The database file location has not been changed.")

#endif
