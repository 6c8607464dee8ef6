// The installer window frmMain: a modeless dialog whose button handlers run
// the folder picker and the install sequence.
#pragma once

#include <windows.h>

#include <string>

// What the window asks of its surroundings; the program shows message boxes
// and quits, tests answer and record. Called on the window's thread.
class SetupUi {
 public:
  virtual ~SetupUi() = default;
  // A message with an OK button.
  virtual void Message(HWND owner, const std::string& text) = 0;
  // A Yes/No question; true means Yes.
  virtual bool AskYesNo(HWND owner, const std::string& text) = 0;
  // Ends the program (Cancel, or OK after an installation).
  virtual void EndProgram(HWND window) = 0;
};

// Creates the window from the dialog resource of the running program with
// its texts and default folder; null on failure. ui must outlive the window.
HWND CreateFrmMain(HINSTANCE instance, SetupUi* ui);
