// SPDX-License-Identifier: GPL-3.0-or-later
#include "Exception.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

TEST(ExceptionTest, SocketExceptionRecordsErrnoOfTheFailedCall)
{
    ASSERT_EQ(::open("/nonexistent/dir/file", O_RDONLY), -1);
    ConnectException e;
    EXPECT_EQ(e.getOsError(), ENOENT);
}

// True if a handler for Base catches each of Thrown as itself.
template <typename Base, typename... Thrown>
static bool caughtAs()
{
    const auto one = [](auto thrown) {
        try {
            throw thrown;
        } catch (Base& b) {
            return b.getErrorSender() == thrown.getErrorSender();
        } catch (...) {
            return false;
        }
    };
    return (one(Thrown()) && ...);
}

TEST(ExceptionTest, IntermediateHandlersCatchTheWholeSubtree)
{
    EXPECT_TRUE((caughtAs<FileException, FileCantOpenException, FileCantCreateException,
                          FileCantReadException, FileCantWriteException, FileCantCloseException>()));
    EXPECT_TRUE((caughtAs<SocketException, UnknownHostException, ProtocolException,
                          TimeoutException, ConnectException, BindException, NoConnectionException,
                          NoRouteToHostException>()));
    EXPECT_TRUE((caughtAs<Exception, ThreadStopException, DecompressionException>()));
    EXPECT_FALSE((caughtAs<FileException, IncorrectFormatException>()));
}
