#pragma once
// Marks the span of a call from the worker into a fetcher, during which status
// texts may go out: connections that close when a fetcher ends, on whichever
// thread ends it, stay silent.
class CallScope {
public:
    explicit CallScope(bool& flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~CallScope() { m_flag = m_old; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};
