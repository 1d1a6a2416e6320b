// SPDX-License-Identifier: GPL-3.0-or-later
#include "Exception.h"

#include <cerrno>

// Sender names live for the whole run; they are created before main() and
// only read afterwards, so threads may share them freely.
static const QString excFileSender = QString::fromLatin1("FileException");
static const QString excFileCantOpenSender = QString::fromLatin1("FileCantOpenException");
static const QString excFileCantCreateSender = QString::fromLatin1("FileCantCreateException");
static const QString excFileCantReadSender = QString::fromLatin1("FileCantReadException");
static const QString excFileCantWriteSender = QString::fromLatin1("FileCantWriteException");
static const QString excFileCantCloseSender = QString::fromLatin1("FileCantCloseException");
static const QString excSocketSender = QString::fromLatin1("SocketException");
static const QString excUnknownHostSender = QString::fromLatin1("UnknownHostException");
static const QString excProtocolSender = QString::fromLatin1("ProtocolException");
static const QString excTimeoutSender = QString::fromLatin1("TimeoutException");
static const QString excConnectSender = QString::fromLatin1("ConnectException");
static const QString excBindSender = QString::fromLatin1("BindException");
static const QString excNoConnectionSender = QString::fromLatin1("NoConnectionException");
static const QString excNoRouteToHostSender = QString::fromLatin1("NoRouteToHostException");
static const QString excThreadStopSender = QString::fromLatin1("ThreadStopException");
static const QString excThreadCreateSender = QString::fromLatin1("ThreadCreateException");
static const QString excIncorrectFileSender = QString::fromLatin1("IncorrectFileException");
static const QString excIncorrectFormatSender = QString::fromLatin1("IncorrectFormatException");
static const QString excDecompressionSender = QString::fromLatin1("DecompressionException");

Exception::Exception()
    : m_code(0)
{
}

Exception::~Exception() = default;

QString Exception::getErrorMessage() const
{
    return m_errorMessage;
}

bool Exception::setErrorMessage(const QString& text)
{
    if (text.isEmpty())
        return false;
    m_errorMessage = text;
    return true;
}

QString Exception::getReason() const
{
    return m_reason;
}

bool Exception::setReason(const QString& text)
{
    if (text.isEmpty())
        return false;
    m_reason = text;
    return true;
}

int Exception::getCode() const
{
    return m_code;
}

bool Exception::setCode(const int& code)
{
    m_code = code;
    return true;
}

SocketException::SocketException()
    : m_osError(errno)
{
    m_errorMessage = excSocketSender;
}

SocketException::~SocketException() = default;

QString SocketException::getErrorSender() const
{
    return excSocketSender;
}

SP_DEFINE_EXCEPTION(FileException, FileException, excFileSender)
SP_DEFINE_EXCEPTION(FileCantOpenException, FileCantOpenException, excFileCantOpenSender)
SP_DEFINE_EXCEPTION(FileCantCreateException, FileCantCreateException, excFileCantCreateSender)
SP_DEFINE_EXCEPTION(FileCantReadException, FileCantReadException, excFileCantReadSender)
SP_DEFINE_EXCEPTION(FileCantWriteException, FileCantWriteException, excFileCantWriteSender)
SP_DEFINE_EXCEPTION(FileCantCloseException, FileCantCloseException, excFileCantCloseSender)
SP_DEFINE_EXCEPTION(UnknownHostException, UnknownHostException, excUnknownHostSender)
SP_DEFINE_EXCEPTION(ProtocolException, ProtocolException, excProtocolSender)
SP_DEFINE_EXCEPTION(TimeoutException, TimeoutException, excTimeoutSender)
SP_DEFINE_EXCEPTION(ConnectException, ConnectException, excConnectSender)
SP_DEFINE_EXCEPTION(BindException, BindException, excBindSender)
SP_DEFINE_EXCEPTION(NoConnectionException, NoConnectionException, excNoConnectionSender)
SP_DEFINE_EXCEPTION(NoRouteToHostException, NoRouteToHostException, excNoRouteToHostSender)
SP_DEFINE_EXCEPTION(ThreadStopException, ThreadStopException, excThreadStopSender)
SP_DEFINE_EXCEPTION(ThreadCreateException, ThreadCreateException, excThreadCreateSender)
SP_DEFINE_EXCEPTION(IncorrectFileException, IncorrectFileException, excIncorrectFileSender)
SP_DEFINE_EXCEPTION(IncorrectFormatException, IncorrectFormatException, excIncorrectFormatSender)
SP_DEFINE_EXCEPTION(DecompressionException, DecompressionException, excDecompressionSender)
