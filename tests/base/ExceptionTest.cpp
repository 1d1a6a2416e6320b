#include "Exception.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

TEST(ExceptionTest, SenderNameIsTheFirstMessageAndStaysFixed)
{
    FileCantReadException fresh;
    EXPECT_EQ(fresh.getErrorMessage(), QString("FileCantReadException"));
    EXPECT_EQ(fresh.getErrorSender(), QString("FileCantReadException"));
    EXPECT_EQ(fresh.getCode(), 0);
    EXPECT_TRUE(fresh.getReason().isNull());

    IncorrectFileException e;
    EXPECT_FALSE(e.setErrorMessage(QString()));
    EXPECT_FALSE(e.setErrorMessage(QString("")));
    EXPECT_FALSE(e.setReason(QString("")));
    EXPECT_EQ(e.getErrorMessage(), QString("IncorrectFileException"));

    EXPECT_TRUE(e.setErrorMessage("x"));
    EXPECT_EQ(e.getErrorMessage(), QString("x"));
    EXPECT_EQ(e.getErrorSender(), QString("IncorrectFileException"));
}

TEST(ExceptionTest, SocketExceptionRecordsErrnoOfTheFailedCall)
{
    ASSERT_EQ(::open("/nonexistent/dir/file", O_RDONLY), -1);
    const int expected = errno;
    ConnectException e;
    EXPECT_EQ(e.getOsError(), expected);
    EXPECT_EQ(expected, ENOENT);
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
