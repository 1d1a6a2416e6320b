#include "Exception.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

TEST(ExceptionTest, FreshObjectCarriesItsSenderNameAsMessage)
{
    FileCantReadException e;
    EXPECT_EQ(e.getErrorMessage(), QString("FileCantReadException"));
    EXPECT_EQ(e.getErrorSender(), QString("FileCantReadException"));
    EXPECT_EQ(e.getCode(), 0);
    EXPECT_TRUE(e.getReason().isNull());
}

TEST(ExceptionTest, EmptyTextsAreRefusedAndSenderStaysFixed)
{
    IncorrectFileException e;
    EXPECT_FALSE(e.setErrorMessage(QString()));
    EXPECT_FALSE(e.setErrorMessage(QString("")));
    EXPECT_FALSE(e.setReason(QString("")));
    EXPECT_EQ(e.getErrorMessage(), QString("IncorrectFileException"));

    EXPECT_TRUE(e.setErrorMessage("x"));
    EXPECT_TRUE(e.setReason("why"));
    EXPECT_TRUE(e.setCode(-7));
    EXPECT_EQ(e.getErrorMessage(), QString("x"));
    EXPECT_EQ(e.getReason(), QString("why"));
    EXPECT_EQ(e.getCode(), -7);
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

template <typename Thrown, typename Handler>
static bool caughtAs()
{
    try {
        throw Thrown();
    } catch (Handler& h) {
        return h.getErrorSender() == Thrown().getErrorSender();
    } catch (...) {
        return false;
    }
}

TEST(ExceptionTest, IntermediateHandlersCatchTheWholeSubtree)
{
    EXPECT_TRUE((caughtAs<FileCantOpenException, FileException>()));
    EXPECT_TRUE((caughtAs<FileCantCreateException, FileException>()));
    EXPECT_TRUE((caughtAs<FileCantReadException, FileException>()));
    EXPECT_TRUE((caughtAs<FileCantWriteException, FileException>()));
    EXPECT_TRUE((caughtAs<FileCantCloseException, FileException>()));

    EXPECT_TRUE((caughtAs<UnknownHostException, SocketException>()));
    EXPECT_TRUE((caughtAs<ProtocolException, SocketException>()));
    EXPECT_TRUE((caughtAs<TimeoutException, SocketException>()));
    EXPECT_TRUE((caughtAs<ConnectException, SocketException>()));
    EXPECT_TRUE((caughtAs<BindException, SocketException>()));
    EXPECT_TRUE((caughtAs<NoConnectionException, SocketException>()));
    EXPECT_TRUE((caughtAs<NoRouteToHostException, SocketException>()));

    EXPECT_TRUE((caughtAs<ThreadStopException, Exception>()));
    EXPECT_TRUE((caughtAs<DecompressionException, Exception>()));
    EXPECT_FALSE((caughtAs<IncorrectFormatException, FileException>()));
}
