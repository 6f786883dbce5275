// A modal message box with a caption, a text and one OK button; returns when
// the user has dismissed it. Owned by the launcher's window while that window
// has the keyboard focus. Where no box can be shown at all, the message goes
// to standard error as one line, "Caption: text".
#pragma once

void showMessage(const char* caption, const char* text);
