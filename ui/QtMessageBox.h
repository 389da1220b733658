#pragma once
// The program's message boxes: real QMessageBoxes, unless a test has put a
// scripted IMessageBox in their place.
#include <QString>

#include "ui/MessageBox.h"

class QtMessageBox : public IMessageBox {
public:
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) override;
};

// The boxes every window of the program uses.
IMessageBox& AppMessageBox();
// Tests: answer every box of the program from `box`; nullptr restores the real boxes.
void SetAppMessageBox(IMessageBox* box);

// The application's name as captions show it: the program file's name.
std::string AppName();

// Converts the program's 8-bit strings for display and back.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
