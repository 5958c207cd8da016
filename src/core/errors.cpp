// The message table. See errors.h for the contract.
#include "core/errors.h"

namespace qm {

namespace {

const char* LibraryMessage(std::int64_t code) {
    switch (code) {
        case 0:
            return "No error";
        case 1:
            return "Operation has been cancelled by user action";
        case 2:
            return "Unknown error";
        case 3:
            return "Invalid handle ";
        case 4:
            return "Invalid data ";
        case 5:
            return "There is no assigned event handler ";
        case 6:
            return "Illegal operation";
        case 7:
            return "Event handler error ";
        case 8:
            return "Bad encryption key";
        case 10:
            return "Broken connection";
        case 11:
            return "Connection is refused";
        case 12:
            return "Connection timeout";
        case 13:
            return "Not connected";
        case 14:
            return "Too many connections ";
        case 20:
            return "Cannot start server ";
        case 21:
            return "Cannot connect to SOCKS server";
        case 22:
            return "Wrong username or password";
        case 23:
            return "Access is denied ";
        case 24:
            return "Client is not signed-in";
        case 30:
            return "Operation is already running";
        case 31:
            return "Operation is not running";
        // Reserved by the library family; nothing here produces them.
        case 50:
            return "Cannot open audio devices";
        case 60:
            return "Cannot open the video capture device";
        case 100:
            return "Cannot create folder ";
        case 101:
            return "Cannot delete folder ";
        case 102:
            return "Cannot delete file ";
        case 103:
            return "Cannot rename folder ";
        case 104:
            return "Cannot rename file ";
        case 105:
            return "Cannot open file ";
        case 106:
            return "Cannot create file ";
        case 107:
            return "Cannot read from file ";
        case 108:
            return "Cannot write to file ";
        case 109:
            return "Cannot rename temporary file ";
        case 110:
            return "Non-supported format ";
        case 111:
            return "Error searching file ";
        case 112:
            return "Wrong checksum";
        default:
            return nullptr;
    }
}

// The classic descriptions of the Windows Sockets error numbers.
const char* SocketMessage(std::int64_t code) {
    switch (code) {
        case 10004:
            return "Interrupted system call";
        case 10009:
            return "Bad file number";
        case 10013:
            return "Permission denied";
        case 10014:
            return "Bad address";
        case 10022:
            return "Invalid argument";
        case 10024:
            return "Too many open files";
        case 10035:
            return "Operation would block";
        case 10036:
            return "Operation now in progress";
        case 10037:
            return "Operation already in progress";
        case 10038:
            return "Socket operation on non-socket";
        case 10039:
            return "Destination address required";
        case 10040:
            return "Message too long";
        case 10041:
            return "Protocol wrong type for socket";
        case 10042:
            return "Protocol not available";
        case 10043:
            return "Protocol not supported";
        case 10044:
            return "Socket type not supported";
        case 10045:
            return "Operation not supported on socket";
        case 10046:
            return "Protocol family not supported";
        case 10047:
            return "Address family not supported by protocol family";
        case 10048:
            return "Address already in use";
        case 10049:
            return "Address not available";
        case 10050:
            return "Network is down";
        case 10051:
            return "Network is unreachable";
        case 10052:
            return "Network dropped connection on reset";
        case 10053:
            return "Connection aborted";
        case 10054:
            return "Connection reset by peer";
        case 10055:
            return "No buffer space available";
        case 10056:
            return "Socket is already connected";
        case 10057:
            return "Socket is not connected";
        case 10058:
            return "Can't send after socket shutdown";
        case 10059:
            return "Too many references: can't splice";
        case 10060:
            return "Connection timed out";
        case 10061:
            return "Connection refused";
        case 10062:
            return "Too many levels of symbolic links";
        case 10063:
            return "File name too long";
        case 10064:
            return "Host is down";
        case 10065:
            return "No route to host";
        case 10066:
            return "Directory not empty";
        case 10067:
            return "Too many processes";
        case 10068:
            return "Too many users";
        case 10069:
            return "Disc quota exceeded";
        case 10070:
            return "Stale NFS file handle";
        case 10071:
            return "Too many levels of remote in path";
        case 10091:
            return "Network sub-system is unusable";
        case 10092:
            return "WinSock DLL cannot support this application";
        case 10093:
            return "WinSock not initialized";
        case 11001:
            return "Host not found";
        case 11002:
            return "Non-authoritative host not found";
        case 11003:
            return "Non-recoverable error";
        case 11004:
            return "No Data";
        default:
            return nullptr;
    }
}

}  // namespace

void ErrorMessage(std::int32_t code, std::string& destination) {
    // Widened first: the absolute value of INT32_MIN does not fit in 32 bits, and lands in the
    // default like every other number outside the tables.
    std::int64_t value = code;
    if (value < 0) {
        value = -value;
    }
    const char* message = LibraryMessage(value);
    if (message == nullptr) {
        message = SocketMessage(value);
    }
    destination = message != nullptr ? message : "Unknown error";
}

std::string ErrorMessage(std::int32_t code) {
    std::string message;
    ErrorMessage(code, message);
    return message;
}

}  // namespace qm
