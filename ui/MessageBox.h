#pragma once
// Every question and every error message of the program goes through this one
// interface: the program shows real message boxes, tests answer from a script.
#include <string>

enum class MsgIcon { None, Information, Question, Exclamation, Stop };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) = 0;
};
