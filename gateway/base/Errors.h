#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace gateway {

// Every failure of the gateway travels as one of these classes; the class name is part of
// what the operator sees (the start-up failure box names it), the message is UTF-8.
class Exception : public std::runtime_error
{
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    virtual const char* className() const noexcept { return "Exception"; }
};

#define VELMOR_EXCEPTION_CLASS(Name, Base)                                                         \
    class Name : public Base                                                                       \
    {                                                                                              \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char* className() const noexcept override { return #Name; }                          \
    }

// Silent abort: the error display shows nothing for it.
VELMOR_EXCEPTION_CLASS(EAbort, Exception);
// A room number or date-time text that cannot be read.
VELMOR_EXCEPTION_CLASS(EConvertError, Exception);
// A request text that is not well-formed XML.
VELMOR_EXCEPTION_CLASS(EDOMParseError, Exception);
// A well-formed request without the expected element.
VELMOR_EXCEPTION_CLASS(EXMLDocError, Exception);

VELMOR_EXCEPTION_CLASS(EIdException, Exception);
VELMOR_EXCEPTION_CLASS(EIdConnClosedGracefully, EIdException);
VELMOR_EXCEPTION_CLASS(EIdTCPNoOnExecute, EIdException);
// An exchange attempted on a lock-system link that is not connected: one that never connected,
// one whose lost connection was let go and is not connected again yet, or one whose connection,
// closed after a reply that did not come in time, could not be connected anew.
VELMOR_EXCEPTION_CLASS(ELinkNotConnected, EIdException);

class EIdSocketError : public EIdException
{
public:
    // number is on the Windows Sockets scale (10061 for a refused connect); systemText is the
    // system's own words for it, when the system gave any.
    explicit EIdSocketError(int number, std::string systemText = {});
    int number() const noexcept { return m_number; }
    const std::string& systemText() const noexcept { return m_systemText; }
    const char* className() const noexcept override { return "EIdSocketError"; }

private:
    int m_number;
    std::string m_systemText;
};

// The window shows its message alone, which names the usual cause whatever the cause; the
// system's reason travels beside it for the server program's lines.
class EIdCouldNotBindSocket : public EIdException
{
public:
    using EIdException::EIdException;
    // number is on the Windows Sockets scale (10048 for a port in use; 10013 for one that
    // needs privilege, and on Windows for one another socket holds for exclusive use).
    EIdCouldNotBindSocket(const std::string& message, int number, std::string systemText)
        : EIdException(message), m_number(number), m_systemText(std::move(systemText))
    {
    }
    // 0 when the reason is not known.
    int number() const noexcept { return m_number; }
    const std::string& systemText() const noexcept { return m_systemText; }
    const char* className() const noexcept override { return "EIdCouldNotBindSocket"; }

private:
    int m_number = 0;
    std::string m_systemText;
};

VELMOR_EXCEPTION_CLASS(EIdNotASocket, EIdSocketError);

#undef VELMOR_EXCEPTION_CLASS

// Throws EIdNotASocket for 10038, EIdSocketError otherwise.
[[noreturn]] void throwSocketError(int number, std::string systemText = {});

namespace messages {
inline constexpr const char* connClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* couldNotBind =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* noOnExecute = "You must have an OnExecute event.";
inline constexpr const char* linkNotConnected = "Not connected to the lock system.";
} // namespace messages

} // namespace gateway
