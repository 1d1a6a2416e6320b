// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The one family of error objects of the system. Objects are thrown by value
// and caught by reference, most-derived handler first. Every class carries a
// fixed sender name (its own class name) that catchers print or compare; a
// freshly constructed exception also carries that name as its message.
class Exception
{
public:
    Exception();
    virtual ~Exception();

    virtual QString getErrorMessage() const;
    // Empty or null text leaves the message unchanged and returns false.
    virtual bool setErrorMessage(const QString& text);
    virtual QString getReason() const;
    // Empty or null text leaves the reason unchanged and returns false.
    virtual bool setReason(const QString& text);
    virtual int getCode() const;
    virtual bool setCode(const int& code);
    virtual QString getErrorSender() const = 0;

protected:
    QString m_errorMessage;
    int m_code;
    QString m_reason;
};

// Declares a concrete exception class whose constructor puts its own sender
// name into the message (after its base class did the same with its name).
#define SP_DECLARE_EXCEPTION(Name, Base)              \
    class Name : public Base                          \
    {                                                 \
    public:                                           \
        Name();                                       \
        ~Name() override;                             \
        QString getErrorSender() const override;      \
    }

// Defines the members declared above. `Qualified` is the class name as seen
// from namespace scope (JPEGDecoder::DecoderException for nested classes),
// `sender` the file-static QString that holds the sender name.
#define SP_DEFINE_EXCEPTION(Qualified, Name, sender)                          \
    Qualified::Name() { m_errorMessage = sender; }                            \
    Qualified::~Name() = default;                                             \
    QString Qualified::getErrorSender() const { return sender; }

SP_DECLARE_EXCEPTION(FileException, Exception);
SP_DECLARE_EXCEPTION(FileCantOpenException, FileException);
SP_DECLARE_EXCEPTION(FileCantCreateException, FileException);
SP_DECLARE_EXCEPTION(FileCantReadException, FileException);
SP_DECLARE_EXCEPTION(FileCantWriteException, FileException);
SP_DECLARE_EXCEPTION(FileCantCloseException, FileException);

// Records errno at the moment of construction, so the object must be built
// right after the failing system call.
class SocketException : public Exception
{
public:
    SocketException();
    ~SocketException() override;
    QString getErrorSender() const override;
    int getOsError() const { return m_osError; }

protected:
    int m_osError;
};

SP_DECLARE_EXCEPTION(UnknownHostException, SocketException);
SP_DECLARE_EXCEPTION(ProtocolException, SocketException);
SP_DECLARE_EXCEPTION(TimeoutException, SocketException);
SP_DECLARE_EXCEPTION(ConnectException, SocketException);
SP_DECLARE_EXCEPTION(BindException, SocketException);
SP_DECLARE_EXCEPTION(NoConnectionException, SocketException);
SP_DECLARE_EXCEPTION(NoRouteToHostException, SocketException);

SP_DECLARE_EXCEPTION(ThreadStopException, Exception);
SP_DECLARE_EXCEPTION(ThreadCreateException, Exception);
SP_DECLARE_EXCEPTION(IncorrectFileException, Exception);
SP_DECLARE_EXCEPTION(IncorrectFormatException, Exception);
SP_DECLARE_EXCEPTION(DecompressionException, Exception);
