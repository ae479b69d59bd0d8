// A listening socket on 127.0.0.1 that tells whether anyone connected: the
// counterpart of tests that must refuse before they connect.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace vl::test {

class TListener {
public:
    TListener()
    {
        FFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FFd < 0 || bind(FFd, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(FFd, 4) != 0
            || getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            ADD_FAILURE() << "no listening socket";
        Port = ntohs(a.sin_port);
    }
    ~TListener() { close(FFd); }
    TListener(const TListener &) = delete;
    TListener &operator=(const TListener &) = delete;
    bool SomeoneConnected()
    {
        const int c = accept(FFd, nullptr, nullptr);
        if (c >= 0)
            close(c);
        return c >= 0;
    }
    uint16_t Port = 0;

private:
    int FFd = -1;
};

} // namespace vl::test
