// The message table: exact texts (trailing blanks included), negative codes, and the default.
#include "core/errors.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qm {
namespace {

TEST(ErrorMessage, ExactTexts) {
    struct Case {
        std::int32_t code;
        const char* message;
    };
    const Case cases[] = {
        {0, "No error"},
        {1, "Operation has been cancelled by user action"},
        {2, "Unknown error"},
        {3, "Invalid handle "},
        {4, "Invalid data "},
        {5, "There is no assigned event handler "},
        {8, "Bad encryption key"},
        {12, "Connection timeout"},
        {21, "Cannot connect to SOCKS server"},
        {22, "Wrong username or password"},
        {-22, "Wrong username or password"},
        {31, "Operation is not running"},
        {60, "Cannot open the video capture device"},
        {109, "Cannot rename temporary file "},
        {112, "Wrong checksum"},
        {10004, "Interrupted system call"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10058, "Can't send after socket shutdown"},
        {-10061, "Connection refused"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {11001, "Host not found"},
        {11004, "No Data"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorMessage(c.code), c.message) << c.code;
    }
}

TEST(ErrorMessage, NumbersOutsideBothTablesReadUnknown) {
    for (const std::int32_t code :
         {9,     15,    19,    25,    32,    49,    113,   9999,   10000,     10003,
          10005, 10072, 10090, 10094, 11000, 11005, 12345, -12345, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(ErrorMessage(code), ErrorMessage(2)) << code;
    }
    std::string destination = "previous text";
    ErrorMessage(INT32_MIN, destination);
    EXPECT_EQ(destination, "Unknown error");
    ErrorMessage(kErrInvalidHandle, destination);
    EXPECT_EQ(destination, "Invalid handle ");
}

}  // namespace
}  // namespace qm
