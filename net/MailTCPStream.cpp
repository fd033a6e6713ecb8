#include "net/MailTCPStream.h"

#include <algorithm>

#include "net/MailExceptions.h"
#include "net/MailTCPConnection.h"
#include "platform/Exception.h"

namespace tarnwick {

int64_t TMailTCPStream::Read(void* buffer, int64_t count) {
    connection_.ReadBytes(buffer, count);
    return count;
}

int64_t TMailTCPStream::Write(const void* buffer, int64_t count) {
    connection_.WriteBytes(buffer, count);
    return count;
}

int64_t TMailTCPStream::Seek(int64_t offset, TSeekOrigin origin) {
    (void)offset, (void)origin;
    return -1;
}

std::optional<std::string> TMailTCPStream::ReadLineNative(int maxLength) {
    return connection_.ReadLine("\n", -1, maxLength < 0 ? -1 : maxLength);
}

}  // namespace tarnwick
