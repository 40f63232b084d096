#include "IpAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LogStream.h"
#include "LogText.h"

namespace {

void logLookUpFailure(const char* host, int code)
{
    QEV_LOG(LogStream::PROBLEM, "IpAddress") << "Cannot look up info on host " << LogText(host)
                                             << ": h_errno = " << code << std::endl;
}

}  // namespace

IpAddress::IpAddress() : _address(htonl(INADDR_LOOPBACK))
{
    char name[64];
    if (gethostname(name, sizeof name) != 0) {
        QEV_LOG(LogStream::PROBLEM, "IpAddress")
            << "Cannot get hostname of current host: " << std::strerror(errno) << std::endl;
        return;
    }
    name[sizeof name - 1] = '\0';
    uint32_t word = 0;
    if (lookUp(name, word))
        _address = word;
}

IpAddress::IpAddress(const TextString& host) : _address(NONE)
{
    struct in_addr parsed;
    if (inet_aton(host.c_str(), &parsed) != 0 && parsed.s_addr != NONE) {
        _address = parsed.s_addr;
        return;
    }
    uint32_t word = 0;
    if (lookUp(host.c_str(), word))
        _address = word;
}

IpAddress IpAddress::fromNetworkWord(uint32_t word)
{
    return IpAddress(word, Word());
}

bool IpAddress::lookUp(const char* host, uint32_t& word)
{
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    const int code = getaddrinfo(host, nullptr, &hints, &found);
    if (code != 0 || !found) {
        logLookUpFailure(host, code);
        return false;
    }
    word = reinterpret_cast<const struct sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

TextString IpAddress::hostName() const
{
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = _address;
    char name[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const struct sockaddr*>(&address), sizeof address, name,
                    sizeof name, nullptr, 0, NI_NAMEREQD) == 0)
        return TextString(name);
    return dottedText();
}

TextString IpAddress::dottedText() const
{
    struct in_addr address;
    address.s_addr = _address;
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address, text, sizeof text))
        return TextString();
    return TextString(text);
}
