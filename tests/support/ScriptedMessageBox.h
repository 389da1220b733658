#pragma once
// A message box for tests: records every box it is asked to show and answers
// from a script (Yes/No/Ok in order; Ok or No once the script is used up).
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ui/MessageBox.h"

struct ShownBox {
    std::string text;
    std::string caption;
    MsgIcon icon;
    MsgButtons buttons;
};

class ScriptedMessageBox : public IMessageBox {
public:
    explicit ScriptedMessageBox(std::deque<MsgResult> answers = {}) : m_answers(std::move(answers)) {}

    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown.push_back({text, caption, icon, buttons});
        if (!m_answers.empty()) {
            MsgResult r = m_answers.front();
            m_answers.pop_front();
            return r;
        }
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }

    void Answer(MsgResult r) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(r);
    }
    std::vector<ShownBox> Shown() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_shown;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> t;
        for (const auto& b : m_shown) t.push_back(b.text);
        return t;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<MsgResult> m_answers;
    std::vector<ShownBox> m_shown;
};
